// The installation folder's rule: its text, and what exists of it, shown
// through a disk of descriptors made up here (Wine keeps no file security).
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "setup/Unit2.h"

using namespace setup;

namespace {

// What exists: attributes and the descriptor in its text form (empty: the
// descriptor cannot be read).
struct TEntry {
  DWORD Attributes = FILE_ATTRIBUTE_DIRECTORY;
  std::string Rules;
};
std::map<std::string, TEntry> GDisk;
DWORD GVolumeFlags = FILE_PERSISTENT_ACLS;
bool GVolumeReachable = true;
std::vector<std::string> GLookedAt;

DWORD WINAPI FakeAttributes(LPCSTR path) {
  const auto entry = GDisk.find(path);
  if (entry != GDisk.end())
    return entry->second.Attributes;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_FILE_ATTRIBUTES;
}

BOOL WINAPI FakeSecurity(LPCSTR path, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR out, DWORD size,
                         LPDWORD needed) {
  GLookedAt.push_back(path);
  const auto entry = GDisk.find(path);
  PSECURITY_DESCRIPTOR made = nullptr;
  ULONG length = 0;
  if (entry == GDisk.end() || entry->second.Rules.empty() ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorA(entry->second.Rules.c_str(),
                                                            SDDL_REVISION_1, &made, &length)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  *needed = length;
  const bool fits = length <= size;
  if (fits)
    memcpy(out, made, length);
  LocalFree(made);
  SetLastError(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
  return fits;
}

BOOL WINAPI FakeVolume(LPCSTR, LPSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPSTR, DWORD) {
  *flags = GVolumeFlags;
  return GVolumeReachable;
}

std::string CurrentUser() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  BYTE buffer[256];
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  CloseHandle(token);
  char* text = nullptr;
  ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
  const std::string sid = text ? text : "";
  LocalFree(text);
  return sid;
}

const std::string kInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// What the setup gives the folders it makes, with the owner Windows gives them.
const std::string kProtected = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const std::string kProgramFiles =
    "O:" + kInstaller + "D:P(A;;FA;;;" + kInstaller + ")(A;CIIO;GA;;;" + kInstaller +
    ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
    "(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)";
// Windows' own drive root: every user may make folders in it.
const std::string kSystemRoot = "O:SYD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
                                "(A;CI;LC;;;AU)(A;OICIIO;SDGXGWGR;;;AU)";

class FolderRule : public ::testing::Test {
protected:
  void SetUp() override {
    GDisk = {{"C:\\", {FILE_ATTRIBUTE_DIRECTORY, kSystemRoot}}};
    GVolumeFlags = FILE_PERSISTENT_ACLS;
    GVolumeReachable = true;
    GLookedAt.clear();
    GetFileAttributesProc = &FakeAttributes;
    GetFileSecurityProc = &FakeSecurity;
    GetVolumeInformationProc = &FakeVolume;
  }
  void TearDown() override {
    GetFileAttributesProc = &GetFileAttributesA;
    GetFileSecurityProc = &GetFileSecurityA;
    GetVolumeInformationProc = &GetVolumeInformationA;
  }
};

TEST_F(FolderRule, RefusesWhatCanNeverHoldTheProductAndSaysWhy) {
  GDisk["C:\\Program Files"] = {FILE_ATTRIBUTE_DIRECTORY, kProgramFiles};
  GDisk["\\\\server\\share\\"] = {FILE_ATTRIBUTE_DIRECTORY, kProtected};
  for (const char* good :
       {"C:\\Program Files\\QLXT3SE", "C:\\Program Files\\\\Blanks In\\QLXT3SE\\",
        "\\\\server\\share\\QLXT3SE\\", "C:/Program Files/QLXT3SE"})
    EXPECT_EQ(InstallFolderProblem(good, 16), "") << good;
  const std::string longest = "C:\\Program Files\\" + std::string(242 - 17, 'x');
  EXPECT_EQ(InstallFolderProblem(longest, 16), "");
  EXPECT_EQ(InstallFolderProblem(longest + "\\", 16), "") << "the delimiter is not counted twice";
  EXPECT_EQ(InstallFolderProblem(longest, 1), "") << "room for the staged names all the same";
  const std::pair<std::string, std::string> bad[] = {
      {"\\Tessel", "not a full path"},
      {"\\\\server", "not a full path"},
      {"\\\\server\\\\share", "not a full path"},
      {"C:\\a:b", "a name holds a character that is not allowed"},
      {"C:\\COM1", "COM1 is a device name"},
      {"C:\\x\\lpt9.log", "lpt9.log is a device name"},
      {"C:\\..\\QLXT3SE", "a name ends in a dot or a blank"},
      {longest + "x", "too long"},
      {"C:\\" + std::string(245, 'x'), "too long"},
  };
  for (const auto& [folder, reason] : bad)
    EXPECT_EQ(InstallFolderProblem(folder, 1), reason) << folder;
  for (const char* root :
       {"C:\\", "C:", "c:/", "C:\\\\", "\\\\server\\share", "\\\\server\\share\\"})
    EXPECT_EQ(InstallFolderProblem(root, 16), "a drive root") << root;
  EXPECT_EQ(InvalidFolderText("C:\\", "a drive root"),
            "The installation folder is not valid: C:\\ (a drive root).");
}

TEST_F(FolderRule, LooksAtEveryExistingPartAsWhatItIsToTheFolder) {
  const std::string me = CurrentUser();
  ASSERT_FALSE(me.empty());
  const std::string wine = "O:" + me + "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + me + ")";
  const DWORD folder = FILE_ATTRIBUTE_DIRECTORY;
  const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  struct TCase {
    const char* What;
    std::map<std::string, TEntry> Disk; // below C:\, which every user may add folders to
    const char* Problem;
  } cases[] = {
      {"made by the setup before", {{"A", {folder, kProtected}}}, ""},
      {"Wine's mode 755 under Wine's root", {{"A", {folder, wine + "(A;OICI;0x1200a9;;;WD)"}}}, ""},
      {"Wine's mode 777", {{"A", {folder, wine + "(A;OICI;0x1301ff;;;WD)"}}}, "other users"},
      {"made by a standard user",
       {{"A", {folder, "O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)"}}},
       "other users"},
      {"Users may modify", {{"A", {folder, "O:BAD:(A;OICI;0x1301bf;;;BU)"}}}, "other users"},
      {"the files written would be the users'",
       {{"A", {folder, "O:BAD:(A;;0x1200a9;;;BU)(A;OIIO;FW;;;BU)"}}},
       "other users"},
      {"...which does not matter above the folder",
       {{"A", {folder, "O:BAD:(A;;0x1200a9;;;BU)(A;OIIO;FW;;;BU)"}},
        {"A\\B", {folder, kProtected}}},
       ""},
      {"no access list", {{"A", {folder, "O:BA"}}}, "other users"},
      {"Users may re-permission a folder above",
       {{"A", {folder, "O:BAD:(A;;WD;;;AU)"}}, {"A\\B", {folder, kProtected}}},
       "other users"},
      {"Users may rename in a folder above",
       {{"A", {folder, "O:BAD:(A;;0x40;;;BU)"}}, {"A\\B", {folder, kProtected}}},
       "other users"},
      {"missing, in a parent where Users may make it first", {}, "other users"},
      {"missing, in a protected parent", {{"A", {folder, kProtected}}}, ""},
      {"a link above", {{"A", {link, kProtected}}, {"A\\B", {folder, kProtected}}}, "a junction"},
      {"a link as the folder",
       {{"A", {folder, kProtected}}, {"A\\B", {link, kProtected}}},
       "a junction"},
      {"a file in the way, for the install to report",
       {{"A", {folder, kProtected}}, {"A\\B", {FILE_ATTRIBUTE_ARCHIVE, ""}}},
       ""},
      {"unreadable permissions", {{"A", {folder, ""}}, {"A\\B", {folder, kProtected}}}, "its perm"},
  };
  for (const TCase& c : cases) {
    GDisk = {{"C:\\", {folder, kSystemRoot}}};
    for (const auto& [name, entry] : c.Disk)
      GDisk["C:\\" + name] = entry;
    const std::string target = c.Disk.size() > 1 ? "C:\\A\\B" : "C:\\A";
    EXPECT_EQ(InstallFolderProblem(target, 16).substr(0, strlen(c.Problem)), c.Problem) << c.What;
  }
  // A drive's root may carry the mark (Wine gives it to its Unix mounts).
  GDisk = {{"T:\\", {link, wine + "(A;OICI;0x1200a9;;;WD)"}}};
  EXPECT_EQ(InstallFolderProblem("T:\\QLXT3SE", 16), "");
  GVolumeFlags = FILE_CASE_PRESERVED_NAMES;
  EXPECT_EQ(InstallFolderProblem("T:\\QLXT3SE", 16), "a drive that keeps no permissions");
  GVolumeReachable = false;
  EXPECT_EQ(InstallFolderProblem("T:\\QLXT3SE", 16), "its drive cannot be reached");
}

// Code page 932: "ソ" is 0x83 0x5C and "ポ" 0x83 0x7C; neither holds a delimiter or a "|".
TEST_F(FolderRule, WalksDoubleByteNamesByCharacters) {
  const std::string so = "\x83\x5c", po = "\x83\x7c";
  GDisk["C:\\" + so] = {FILE_ATTRIBUTE_DIRECTORY, kProtected};
  EXPECT_EQ(InstallFolderProblem("C:\\" + so + "\\" + po + so, 16, 932), "");
  EXPECT_EQ(GLookedAt, (std::vector<std::string>{"C:\\", "C:\\" + so}));
  EXPECT_EQ(InstallFolderProblem("C:\\" + so, 16, 932), "") << "the existing folder itself";
  EXPECT_EQ(InstallFolderProblem("C:\\" + po, 16, 1252),
            "a name holds a character that is not allowed")
      << "the same bytes in a single-byte code page";
  EXPECT_EQ(SplitPath("C:\\" + so + "\\" + po, "\\", 932),
            (std::vector<std::string>{"C:", so, po}));
  EXPECT_EQ(InstalledFolderOf("C:\\" + so + "\\QLX_Tessel_3.dll", 932), "C:\\" + so + "\\");
  EXPECT_EQ(InstalledFolderOf("C:\\x\\" + so, 932), "C:\\x\\");
  EXPECT_TRUE(EndsWithDelimiter(so + "\\", "\\", 932));
  EXPECT_FALSE(EndsWithDelimiter(so, "\\", 932));
  EXPECT_TRUE(EndsWithDelimiter(so, "\\", 1252));
}

} // namespace
