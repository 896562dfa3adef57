// The installation folder end to end: folders the rule refuses before any
// change, ordinary existing folders that still install, and a folder with
// double-byte characters under a Japanese ANSI code page.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

#include "Scenario.h"
#include "SetupDriver.h"

#include <sddl.h>
#include <shellapi.h>

using namespace e2e;

namespace {

const std::string kRoot = "C:\\QLX e2e";
// C:\ソフト表\QLXT3SE: "ソ" and "表" end in 0x5C in code page 932.
const std::wstring kJapaneseParent = L"C:\\\u30bd\u30d5\u30c8\u8868";
const std::wstring kJapaneseFolder = kJapaneseParent + L"\\QLXT3SE";
const wchar_t* const kMachineServerKey =
    L"Software\\Classes\\CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\InProcServer32";

std::string Program() {
  const char* other = std::getenv("QLX_E2E_SETUP_EXE");
  return WindowsPath(other && *other ? other : QLX_SETUP_EXE);
}

void ExpectBox(const TMessageBox& box, const std::string& text) {
  EXPECT_EQ(box.Text, text);
  EXPECT_EQ(box.Caption, "QLXT3SE");
}

// Gives everyone full control, as a folder made by hand under a drive root
// may; Wine keeps it as the mode bits 777.
bool OpenToEveryone(const std::string& folder) {
  PSECURITY_DESCRIPTOR rules = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                            &rules, nullptr))
    return false;
  const bool done = SetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, rules) != FALSE;
  LocalFree(rules);
  return done;
}

void RemoveWideTree(const std::wstring& folder) {
  std::wstring from = folder + L'\0';
  SHFILEOPSTRUCTW remove{};
  remove.wFunc = FO_DELETE;
  remove.pFrom = from.c_str();
  remove.fFlags = FOF_NO_UI;
  SHFileOperationW(&remove);
}

bool WideExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring WideValue(HKEY root, const wchar_t* key, const wchar_t* value) {
  wchar_t data[512] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  if (RegGetValueW(root, key, value, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return L"<missing>";
  return data;
}

// The setup program started as from a Japanese desktop: Wine takes a
// process's ANSI code page from the locale of the Unix process that starts
// it, and a Windows process's children inherit their parent's, so the
// program is started through Unix's env with a locale of its own.
class TJapaneseSetup {
public:
  TJapaneseSetup()
      : FStarter(
            "Z:\\usr\\bin\\env LC_ALL=ja_JP.UTF-8 __COMPAT_LAYER=RunAsInvoker /usr/bin/wine \"" +
            Program() + "\"") {
    FWizard = WaitForWizard(0, 90);
    DWORD id = 0;
    if (FWizard)
      GetWindowThreadProcessId(FWizard, &id);
    FId = id;
    FProcess = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
  }
  ~TJapaneseSetup() {
    if (FProcess && WaitForSingleObject(FProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(FProcess, 99);
    if (FProcess)
      CloseHandle(FProcess);
  }
  TJapaneseSetup(const TJapaneseSetup&) = delete;
  TJapaneseSetup& operator=(const TJapaneseSetup&) = delete;

  HWND Wizard() const { return FWizard; }
  DWORD Id() const { return FId; }
  bool Ended(double seconds) const {
    return FProcess && WaitForSingleObject(FProcess, static_cast<DWORD>(seconds * 1000)) == 0;
  }
  // The folder field's text in the program's own code page.
  void SetFolder(const std::wstring& folder) const {
    SendMessageW(FolderField(FWizard), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
  }

private:
  TProgram FStarter;
  HWND FWizard = nullptr;
  DWORD FId = 0;
  HANDLE FProcess = nullptr;
};

class Folders : public ::testing::Test {
protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    ResetProduct({kRoot});
    RemoveWideTree(kJapaneseParent);
    // What a walk by bytes would make: the name cut before the 0x5C of "表".
    RemoveWideTree(kJapaneseParent.substr(0, kJapaneseParent.size() - 1));
  }
};

// A new install into a folder that exists already, then a reinstall offered
// a drive root and a folder anyone may change: each is refused before any
// change, and the old folder still takes the reinstall.
TEST_F(Folders, RootsAndOpenFoldersAreRefusedAndOrdinaryOnesStillInstall) {
  const std::string folder = kRoot + "\\Existing\\QLXT3SE";
  MakeFolders(folder);
  const std::string open = kRoot + "\\Open";
  MakeFolders(open);
  REQUIRE(OpenToEveryone(open));
  const std::string library = folder + "\\QLX_Tessel_3.dll";
  {
    TSetupProcess setup(Program());
    REQUIRE(setup.Wizard());
    REQUIRE(WalkToConfirmation(setup.Wizard(), SNewInstall, folder));
    REQUIRE(PostClick(setup.Wizard(), "Start"));
    const TOutcome outcome = AwaitOutcome(setup);
    EXPECT_FALSE(outcome.Box) << outcome.Box.Text;
    REQUIRE(outcome.Page == "finish");
    EXPECT_TRUE(Click(setup.Wizard(), "Restart later") && PostClick(setup.Wizard(), "Finish"));
    EXPECT_EQ(setup.WaitExit(30), 0);
  }
  REQUIRE(RegisteredLibrary() == library);
  const TProductState installed = ProductState(folder);

  TSetupProcess setup(Program());
  const HWND w = setup.Wizard();
  REQUIRE(w);
  const std::pair<std::string, std::string> refused[] = {
      {"C:\\", "a drive root"},
      {"C:", "a drive root"},
      {open, "other users can change it"},
      {open + "\\QLXT3SE", "other users can change it"},
  };
  bool first = true;
  for (const auto& [text, reason] : refused) {
    REQUIRE(first ? WalkToConfirmation(w, SReinstall, text)
                  : WaitUntil([&] { return Click(w, "Back"); }, 10));
    if (!first) {
      SetFolder(w, text);
      REQUIRE(Click(w, "Next"));
    }
    first = false;
    REQUIRE(PostClick(w, "Start"));
    const TOutcome outcome = AwaitOutcome(setup);
    ExpectBox(outcome.Box, "The installation folder is not valid: " + text + " (" + reason + ").");
    REQUIRE(PressOk(outcome.Box));
    EXPECT_EQ(Page(w), "confirmation") << text;
  }
  EXPECT_TRUE(ProductState(folder) == installed) << "no shell notice, nothing unregistered";
  EXPECT_EQ(FolderEntries(open), std::vector<std::string>{});

  REQUIRE(WaitUntil([&] { return Click(w, "Back"); }, 10));
  SetFolder(w, folder);
  REQUIRE(Click(w, "Next") && PostClick(w, "Start"));
  TOutcome outcome = AwaitOutcome(setup);
  ExpectBox(outcome.Box, "Shell restart needed...");
  REQUIRE(PressOk(outcome.Box));
  outcome = AwaitOutcome(setup);
  EXPECT_FALSE(outcome.Box) << outcome.Box.Text;
  REQUIRE(outcome.Page == "finish");
  EXPECT_EQ(RegisteredLibrary(), library);
  EXPECT_TRUE(Click(w, "Restart later") && PostClick(w, "Finish"));
  EXPECT_EQ(setup.WaitExit(30), 0);
}

// Under code page 932 the folder's double-byte characters stay whole through
// the install, the registration, the record and the uninstall.
TEST_F(Folders, JapaneseCodePageInstallsAndUninstallsInADoubleByteFolder) {
  // The folder a user browses to exists.
  REQUIRE(CreateDirectoryW(kJapaneseParent.c_str(), nullptr));
  const std::vector<std::string> drive = FolderEntries("C:");
  {
    TJapaneseSetup setup;
    const HWND w = setup.Wizard();
    REQUIRE(w);
    REQUIRE(Click(w, "Next") && Click(w, "I agree") && Click(w, "Next") && Click(w, "Next"));
    setup.SetFolder(kJapaneseFolder);
    REQUIRE(Click(w, "Next") && PostClick(w, "Start"));
    REQUIRE(WaitUntil([&] { return Page(w) == "finish" || FindMessageBox(setup.Id()); }, 120));
    EXPECT_FALSE(FindMessageBox(setup.Id())) << FindMessageBox(setup.Id()).Text;
    REQUIRE(Page(w) == "finish");
    EXPECT_TRUE(Click(w, "Restart later") && PostClick(w, "Finish"));
    EXPECT_TRUE(setup.Ended(30));
  }
  for (const char* name : kProductFiles) {
    const std::string ascii = name;
    EXPECT_TRUE(WideExists(kJapaneseFolder + L"\\" + std::wstring(ascii.begin(), ascii.end())))
        << name;
  }
  EXPECT_EQ(FolderEntries("C:"), drive) << "no folder made at a second byte 0x5C";
  EXPECT_TRUE(WideValue(HKEY_LOCAL_MACHINE, kMachineServerKey, L"") ==
              kJapaneseFolder + L"\\QLX_Tessel_3.dll");
  const std::wstring record = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QLXT3SE";
  EXPECT_TRUE(WideValue(HKEY_LOCAL_MACHINE, record.c_str(), L"UninstallString") ==
              L"\"" + kJapaneseFolder + L"\\Uninstall.exe\"");

  TJapaneseSetup setup;
  const HWND w = setup.Wizard();
  REQUIRE(w);
  REQUIRE(WalkToConfirmation(w, SUninstall));
  REQUIRE(PostClick(w, "Start"));
  TMessageBox box = WaitForMessageBox(setup.Id(), 120);
  ExpectBox(box, "Shell restart needed...");
  REQUIRE(PressOk(box));
  box = WaitForMessageBox(setup.Id(), 120);
  ExpectBox(box, "Uninstall successfull");
  REQUIRE(PressOk(box));
  EXPECT_TRUE(setup.Ended(30));
  EXPECT_FALSE(WideExists(kJapaneseFolder)) << "the product's folder goes";
  EXPECT_TRUE(WideExists(kJapaneseParent)) << "its parent stays";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));
  EXPECT_EQ(RegisteredLibrary(), "");
}

} // namespace
