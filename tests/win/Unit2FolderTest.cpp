// The installation folder's rule and the path helpers, with a disk of
// descriptors made up here: Wine keeps no file security.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <map>
#include <string>

#include "setup/Unit1.h"
#include "setup/Unit2.h"

using namespace setup;

namespace {

// Path -> attributes and descriptor text (empty: it cannot be read).
std::map<std::string, std::pair<DWORD, std::string>> GDisk;
DWORD GVolumeFlags;
BOOL GVolumeReachable;
std::string GLookedAt;

DWORD WINAPI FakeAttributes(LPCSTR path) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  return GDisk.count(path) ? GDisk[path].first : INVALID_FILE_ATTRIBUTES;
}

BOOL WINAPI FakeSecurity(LPCSTR path, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR out, DWORD size,
                         LPDWORD needed) {
  GLookedAt += std::string(path) + "|";
  PSECURITY_DESCRIPTOR made = nullptr;
  SetLastError(ERROR_ACCESS_DENIED);
  if (GDisk[path].second.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                                        GDisk[path].second.c_str(), SDDL_REVISION_1, &made, needed))
    return FALSE;
  const BOOL fits = *needed <= size;
  if (fits)
    memcpy(out, made, *needed);
  LocalFree(made);
  SetLastError(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
  return fits;
}

BOOL WINAPI FakeVolume(LPCSTR, LPSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPSTR, DWORD) {
  *flags = GVolumeFlags;
  return GVolumeReachable;
}

constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD kLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
// What the setup gives the folders it makes.
const std::string kProtected = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// Windows' own: TrustedInstaller's program files, and a drive root where
// every user may make folders.
const std::string kInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const std::string kProgramFiles = "O:" + kInstaller + "D:P(A;;FA;;;" + kInstaller +
                                  ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
                                  "(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)";
const std::string kSystemRoot =
    "O:SYD:(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;CI;LC;;;AU)(A;OICIIO;SDGXGWGR;;;AU)";

class FolderRule : public ::testing::Test {
protected:
  void SetUp() override {
    GDisk = {{"C:\\", {kFolder, kSystemRoot}}, {"C:\\Program Files", {kFolder, kProgramFiles}}};
    GVolumeFlags = FILE_PERSISTENT_ACLS;
    GVolumeReachable = TRUE;
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
  GDisk["\\\\server\\share\\"] = {kFolder, kProtected};
  for (const char* good : {"C:\\Program Files\\QLXT3SE", "C:/Program Files\\\\Blanks In/QLXT3SE\\",
                           "\\\\server\\share\\QLXT3SE\\"})
    EXPECT_EQ(InstallFolderProblem(good, 16), "") << good;
  const std::string longest = "C:\\Program Files\\" + std::string(242 - 17, 'x');
  EXPECT_EQ(InstallFolderProblem(longest + "\\", 1), "") << "room for the staged names, once";
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

TEST_F(FolderRule, LooksAtEachExistingPartAsWhatItIsToTheFolder) {
  // Wine's descriptors of mode 755 and 777.
  const std::string wine = "O:SYD:(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;WD)";
  const struct {
    std::string A, B; // descriptors of C:\A and C:\A\B; the folder is the last one given
    DWORD AttributesA, AttributesB;
    const char* Problem;
  } cases[] = {
      {kProtected, "", kFolder, 0, ""},
      {wine, "", kFolder, 0, ""},
      {"O:SYD:(A;OICI;0x1301ff;;;WD)", "", kFolder, 0, "other users can change it"},
      {"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)", "", kFolder, 0, "other users can change it"},
      {"O:BAD:(A;OIIO;FW;;;BU)", "", kFolder, 0, "other users can change it"}, // its files
      {"O:BAD:(A;OIIO;FW;;;BU)", kProtected, kFolder, kFolder, ""},
      {"O:BA", "", kFolder, 0, "other users can change it"}, // no access list
      {"O:BAD:(A;;WD;;;AU)", kProtected, kFolder, kFolder, "other users can change it"},
      {"O:BAD:(A;;0x40;;;BU)", kProtected, kFolder, kFolder, "other users can change it"},
      {"", "", 0, 0, ""}, // made before ours, it is looked at once it exists
      {kProtected, "", kLink, 0, "a junction or link in the path"},
      {kProtected, kProtected, kFolder, kLink, "a junction or link in the path"},
      {kProtected, "", kFolder, FILE_ATTRIBUTE_ARCHIVE, ""}, // a file in the way
      {"", kProtected, kFolder, kFolder, "its permissions cannot be read"},
  };
  for (const auto& c : cases) {
    GDisk = {{"C:\\", {kFolder, kSystemRoot}}};
    if (c.AttributesA)
      GDisk["C:\\A"] = {c.AttributesA, c.A};
    if (c.AttributesB)
      GDisk["C:\\A\\B"] = {c.AttributesB, c.B};
    EXPECT_EQ(InstallFolderProblem(c.B.empty() && !c.AttributesB ? "C:\\A" : "C:\\A\\B", 16),
              c.Problem)
        << c.A << " / " << c.B;
  }
  // Wine marks the root of a drive on a Unix mount of its own.
  GDisk = {{"T:\\", {kLink, wine}}};
  EXPECT_EQ(InstallFolderProblem("T:\\QLXT3SE", 16), "");
  GVolumeFlags = FILE_CASE_PRESERVED_NAMES;
  EXPECT_EQ(InstallFolderProblem("T:\\QLXT3SE", 16), "a drive that keeps no permissions");
  GVolumeReachable = FALSE;
  EXPECT_EQ(InstallFolderProblem("T:\\QLXT3SE", 16), "its drive cannot be reached");
}

// Code page 932: "ソ" is 0x83 0x5C, "表" 0x95 0x5C, "ポ" 0x83 0x7C: no delimiter, no "|".
TEST_F(FolderRule, PathsAreWalkedByCharactersOfTheCodePage) {
  const std::string so = "\x83\x5c", table = "\x95\x5c", po = "\x83\x7c";
  GDisk["C:\\" + so] = {kFolder, kProtected};
  GLookedAt.clear();
  EXPECT_EQ(InstallFolderProblem("C:\\" + so + "\\" + po + so, 16, 932), "");
  EXPECT_EQ(GLookedAt, "C:\\|C:\\" + so + "|");
  EXPECT_EQ(InstallFolderProblem("C:\\" + po, 16, 1252),
            "a name holds a character that is not allowed");
  const std::string browsed = "C:\\" + so + table;
  EXPECT_EQ(CollapseDoubleDelimiters(browsed + SFolderSuffix, 932), browsed + SFolderSuffix);
  EXPECT_EQ(CollapseDoubleDelimiters(table + "\\\\\\", 932), table + "\\\\");
  EXPECT_EQ(CollapseDoubleDelimiters(table + "\\", 1252), table);
  EXPECT_EQ(WithDelimiter(browsed, 932), browsed + "\\");
  EXPECT_EQ(WithoutDelimiter(browsed, 932), browsed);
  EXPECT_EQ(WithoutDelimiter(browsed + "\\", 932), browsed);
  EXPECT_EQ(FolderOfFile(browsed + "\\QLX_Tessel_3.dll", 932), browsed);
  EXPECT_EQ(InstalledFolderOf("C:\\x\\" + so, 932), "C:\\x\\");
  EXPECT_EQ(SplitPath(browsed, "\\", 932), (std::vector<std::string>{"C:", so + table}));
}

} // namespace
