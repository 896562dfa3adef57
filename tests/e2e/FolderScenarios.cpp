// The installation folder end to end: folders the rule refuses before any
// change, and a folder with double-byte characters under code page 932.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Scenario.h"
#include "SetupDriver.h"

#include <sddl.h>
#include <shellapi.h>

using namespace e2e;

namespace {

const std::string kRoot = "C:\\QLX e2e";
// C:\ソフト表: "ソ" and "表" end in 0x5C in code page 932.
const std::wstring kJapanese = L"C:\\\u30bd\u30d5\u30c8\u8868";

std::string Program() {
  const char* other = std::getenv("QLX_E2E_SETUP_EXE");
  return WindowsPath(other && *other ? other : QLX_SETUP_EXE);
}

void RemoveWideTree(const std::wstring& folder) {
  const std::wstring from = folder + L'\0';
  SHFILEOPSTRUCTW remove{nullptr,   FO_DELETE, from.c_str(), nullptr,
                         FOF_NO_UI, FALSE,     nullptr,      nullptr};
  SHFileOperationW(&remove);
}

std::wstring WideValue(const wchar_t* key, const wchar_t* value) {
  wchar_t data[512] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ, nullptr, data, &size);
  return data;
}

class Folders : public ::testing::Test {
protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    ResetProduct({kRoot});
    RemoveWideTree(kJapanese);
    // What a walk by bytes makes: the name cut before the 0x5C of "表".
    RemoveWideTree(kJapanese.substr(0, kJapanese.size() - 1));
  }
};

// Installed into a folder made beforehand, the reinstall is offered a drive
// root and a folder anyone may change: each is refused with nothing changed.
TEST_F(Folders, RootsAndOpenFoldersAreRefusedBeforeAnyChange) {
  const std::string folder = kRoot + "\\Existing\\QLXT3SE", open = kRoot + "\\Open";
  MakeFolders(folder);
  MakeFolders(open);
  PSECURITY_DESCRIPTOR everyone = nullptr; // kept by Wine as the mode bits 777
  REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;WD)", 1, &everyone,
                                                               nullptr));
  REQUIRE(SetFileSecurityA(open.c_str(), DACL_SECURITY_INFORMATION, everyone));
  LocalFree(everyone);
  {
    TSetupProcess setup(Program());
    REQUIRE(WalkToConfirmation(setup.Wizard(), SNewInstall, folder));
    REQUIRE(PostClick(setup.Wizard(), "Start") && AwaitOutcome(setup).Page == "finish");
  }
  REQUIRE(RegisteredLibrary() == folder + "\\QLX_Tessel_3.dll");
  const TProductState installed = ProductState(folder);

  TSetupProcess setup(Program());
  const HWND w = setup.Wizard();
  REQUIRE(WalkToConfirmation(w, SReinstall, "C:\\"));
  for (const auto& [text, reason] : {std::pair<std::string, const char*>{"C:\\", "a drive root"},
                                     {"C:", "a drive root"},
                                     {open, "other users can change it"},
                                     {open + "\\QLXT3SE", "other users can change it"}}) {
    SetFolder(w, text); // on the page behind
    REQUIRE(WaitUntil([&] { return PostClick(w, "Start"); }, 10));
    const TOutcome outcome = AwaitOutcome(setup);
    EXPECT_EQ(outcome.Box.Text,
              "The installation folder is not valid: " + text + " (" + reason + ").");
    REQUIRE(PressOk(outcome.Box));
    EXPECT_EQ(Page(w), "confirmation");
  }
  EXPECT_TRUE(ProductState(folder) == installed) << "no shell notice, nothing unregistered";
  EXPECT_EQ(FolderEntries(open), std::vector<std::string>{});
}

// Started as from a Japanese desktop, through Unix's env: Wine takes a
// process's ANSI code page from the locale it is started in, and a Windows
// program's children get their parent's.
class TJapaneseSetup {
public:
  TJapaneseSetup()
      : FStarter("Z:\\usr\\bin\\env LC_ALL=ja_JP.UTF-8 __COMPAT_LAYER=RunAsInvoker "
                 "/usr/bin/wine \"" +
                 Program() + "\""),
        FWizard(WaitForWizard(0, 90)) {
    DWORD id = 0;
    GetWindowThreadProcessId(FWizard, &id);
    FProcess = OpenProcess(SYNCHRONIZE, FALSE, id);
  }
  ~TJapaneseSetup() {
    if (FProcess)
      CloseHandle(FProcess);
  }
  TJapaneseSetup(const TJapaneseSetup&) = delete;
  TJapaneseSetup& operator=(const TJapaneseSetup&) = delete;
  HWND Wizard() const { return FWizard; }
  bool Ended() const { return FProcess && WaitForSingleObject(FProcess, 30000) == WAIT_OBJECT_0; }

private:
  TProgram FStarter;
  HWND FWizard;
  HANDLE FProcess = nullptr;
};

TEST_F(Folders, JapaneseCodePageInstallsAndUninstallsInADoubleByteFolder) {
  REQUIRE(CreateDirectoryW(kJapanese.c_str(), nullptr)); // as browsed to
  const std::wstring folder = kJapanese + L"\\QLXT3SE";
  const std::vector<std::string> drive = FolderEntries("C:");
  {
    TJapaneseSetup setup;
    const HWND w = setup.Wizard();
    REQUIRE(Click(w, "Next") && Click(w, "I agree") && Click(w, "Next") && Click(w, "Next"));
    SendMessageW(FolderField(w), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    REQUIRE(Click(w, "Next") && PostClick(w, "Start"));
    EXPECT_TRUE(WaitUntil([&] { return Page(w) == "finish"; }, 120)) << FindMessageBox(0).Text;
    EXPECT_TRUE(Click(w, "Restart later") && PostClick(w, "Finish") && setup.Ended());
  }
  EXPECT_EQ(FolderEntries("C:"), drive) << "no folder made at a second byte 0x5C";
  EXPECT_TRUE(GetFileAttributesW((folder + L"\\Msvcrt.dll").c_str()) != INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(WideValue(L"Software\\Classes\\CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}"
                        L"\\InProcServer32",
                        L"") == folder + L"\\QLX_Tessel_3.dll");
  EXPECT_TRUE(WideValue(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QLXT3SE",
                        L"UninstallString") == L"\"" + folder + L"\\Uninstall.exe\"");

  TJapaneseSetup setup;
  REQUIRE(WalkToConfirmation(setup.Wizard(), SUninstall) && PostClick(setup.Wizard(), "Start"));
  for (const char* text : {"Shell restart needed...", "Uninstall successfull"}) {
    const TMessageBox box = WaitForMessageBox(0, 120);
    EXPECT_EQ(box.Text, text);
    REQUIRE(PressOk(box));
  }
  EXPECT_TRUE(setup.Ended());
  EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW(kJapanese.c_str()), INVALID_FILE_ATTRIBUTES) << "not the parent";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));
  EXPECT_EQ(RegisteredLibrary(), "");
}

} // namespace
