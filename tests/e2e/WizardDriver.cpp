// Drives the real setup program through window messages only, as a user's
// clicks would: finds its buttons by text, clicks them and reads what the
// windows expose. Also a command line tool for the screenshot script:
//   qlx_wizard_driver click TEXT...   clicks the visible buttons in order
//   qlx_wizard_driver wait            waits for the wizard window
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

namespace {

constexpr const char* SClsidKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\InProcServer32";

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') {
    for (char& c : path)
      if (c == '/')
        c = '\\';
    path = "Z:" + path;
  }
  return path;
}

HWND WaitForWindow(const char* cls, const char* caption, int seconds = 60) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (HWND wnd = FindWindowA(cls, caption); wnd && IsWindowVisible(wnd))
      return wnd;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return nullptr;
}

HWND Wizard() {
  return FindWindowA("QlxTForm1", "QLX Installer");
}

std::string TextOf(HWND wnd) {
  char text[512] = {};
  GetWindowTextA(wnd, text, sizeof text);
  return text;
}

struct TSearch {
  std::string Text;
  HWND Found = nullptr;
};

BOOL CALLBACK FindVisible(HWND wnd, LPARAM param) {
  auto* search = reinterpret_cast<TSearch*>(param);
  if (IsWindowVisible(wnd) && TextOf(wnd) == search->Text) {
    search->Found = wnd;
    return FALSE;
  }
  return TRUE;
}

// The control with this text on the page the user sees, or null.
HWND Visible(const std::string& text) {
  TSearch search{text};
  EnumChildWindows(Wizard(), FindVisible, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

BOOL CALLBACK FindEdit(HWND wnd, LPARAM param) {
  char cls[32] = {};
  GetClassNameA(wnd, cls, sizeof cls);
  if (lstrcmpiA(cls, "Edit") == 0) {
    *reinterpret_cast<HWND*>(param) = wnd;
    return FALSE;
  }
  return TRUE;
}

// The folder field.
HWND Edit() {
  HWND found = nullptr;
  EnumChildWindows(Wizard(), FindEdit, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Clicks like a user: the button must be visible and enabled.
bool Click(const std::string& text) {
  HWND button = Visible(text);
  if (!button || !IsWindowEnabled(button))
    return false;
  SendMessageA(button, BM_CLICK, 0, 0);
  return true;
}

bool Checked(HWND button) {
  return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// Which page shows, told by the controls only that page has.
std::string Page() {
  if (Visible("I agree"))
    return "licence";
  if (Visible("New install: Not previous tessel installed"))
    return "kind";
  if (Visible("Browse"))
    return "folder";
  if (Visible("Start"))
    return "confirmation";
  if (Visible("Finish"))
    return "finish";
  if (Visible("Next") && Visible("Exit") && !Visible("Back"))
    return "welcome";
  return "?";
}

class TSetupProcess {
public:
  TSetupProcess() {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    // The manifest asks for elevation; Wine's elevated start of a child
    // process fails under qemu, and the test needs no rights of its own.
    SetEnvironmentVariableA("__COMPAT_LAYER", "RunAsInvoker");
    std::string command = "\"" + WindowsPath(QLX_SETUP_EXE) + "\"";
    FStarted = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &si, &FInfo) != FALSE;
    if (FStarted)
      FWindow = WaitForWindow("QlxTForm1", "QLX Installer");
  }
  ~TSetupProcess() {
    if (!FStarted)
      return;
    if (WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(FInfo.hProcess, 99);
    CloseHandle(FInfo.hThread);
    CloseHandle(FInfo.hProcess);
  }
  TSetupProcess(const TSetupProcess&) = delete;
  TSetupProcess& operator=(const TSetupProcess&) = delete;

  HWND Window() const { return FWindow; }
  // The exit code once the program has ended, or -1 if it runs on.
  long WaitExit(int seconds = 20) {
    if (WaitForSingleObject(FInfo.hProcess, static_cast<DWORD>(seconds) * 1000) != WAIT_OBJECT_0)
      return -1;
    DWORD code = 0;
    GetExitCodeProcess(FInfo.hProcess, &code);
    return static_cast<long>(code);
  }

private:
  PROCESS_INFORMATION FInfo{};
  bool FStarted = false;
  HWND FWindow = nullptr;
};

// The product's registration as regsvr32 would leave it.
class TRegisteredProduct {
public:
  explicit TRegisteredProduct(const std::string& path) {
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CLASSES_ROOT, SClsidKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
    RegCloseKey(key);
  }
  ~TRegisteredProduct() { RegDeleteKeyA(HKEY_CLASSES_ROOT, SClsidKey); }
  TRegisteredProduct(const TRegisteredProduct&) = delete;
  TRegisteredProduct& operator=(const TRegisteredProduct&) = delete;
};

void SetEditText(const std::string& text) {
  SendMessageA(Edit(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

TEST(Wizard, NewInstallWalksEveryPageMove) {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, SClsidKey);
  TSetupProcess setup;
  ASSERT_NE(setup.Window(), nullptr);
  EXPECT_EQ(Page(), "welcome");
  EXPECT_EQ(Visible("Back"), nullptr);

  ASSERT_TRUE(Click("Next"));
  ASSERT_EQ(Page(), "licence");
  EXPECT_FALSE(IsWindowEnabled(Visible("Next"))) << "Next waits for I agree";
  EXPECT_FALSE(Checked(Visible("I agree")));
  ASSERT_TRUE(Click("I agree"));
  EXPECT_TRUE(IsWindowEnabled(Visible("Next")));
  ASSERT_TRUE(Click("I agree"));
  EXPECT_FALSE(IsWindowEnabled(Visible("Next")));
  ASSERT_TRUE(Click("I agree"));
  ASSERT_TRUE(Click("Back"));
  EXPECT_EQ(Page(), "welcome");
  ASSERT_TRUE(Click("Next"));
  EXPECT_TRUE(Checked(Visible("I agree"))) << "the box keeps its state";
  ASSERT_TRUE(Click("Next"));
  ASSERT_EQ(Page(), "kind");

  HWND newInstall = Visible("New install: Not previous tessel installed");
  HWND reinstall = Visible("ReInstall: Tessel already installed");
  HWND uninstall = Visible("UnInstall: Remove tessel from your computer");
  ASSERT_TRUE(newInstall && reinstall && uninstall);
  EXPECT_TRUE(Checked(newInstall));
  EXPECT_TRUE(IsWindowEnabled(newInstall));
  EXPECT_FALSE(IsWindowEnabled(reinstall));
  EXPECT_FALSE(IsWindowEnabled(uninstall));

  ASSERT_TRUE(Click("Back"));
  EXPECT_EQ(Page(), "licence");
  EXPECT_TRUE(IsWindowEnabled(Visible("Next")));
  ASSERT_TRUE(Click("Next"));
  ASSERT_TRUE(Click("Next"));
  ASSERT_EQ(Page(), "folder");

  // An edit control keeps its text itself: ask it, not the window manager.
  char text[MAX_PATH] = {};
  SendMessageA(Edit(), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  const std::string folder = text;
  EXPECT_GT(folder.size(), 8u);
  EXPECT_EQ(folder.substr(folder.size() - 8), "\\QLXT3SE");
  SetEditText("");
  EXPECT_FALSE(IsWindowEnabled(Visible("Next"))) << "an empty folder stops Next";
  SetEditText("C:\\Tools\\QLXT3SE");
  EXPECT_TRUE(IsWindowEnabled(Visible("Next")));

  ASSERT_TRUE(Click("Next"));
  ASSERT_EQ(Page(), "confirmation");
  ASSERT_TRUE(Click("Back"));
  EXPECT_EQ(Page(), "folder");
  ASSERT_TRUE(Click("Back"));
  EXPECT_EQ(Page(), "kind");
  ASSERT_TRUE(Click("Exit"));
  EXPECT_EQ(setup.WaitExit(), 0);
}

TEST(Wizard, InstalledProductOffersReinstallAndUninstall) {
  TRegisteredProduct registered("C:\\Program Files\\QLXT3SE\\QLX_Tessel_3.dll");
  TSetupProcess setup;
  ASSERT_NE(setup.Window(), nullptr);
  ASSERT_TRUE(Click("Next"));
  ASSERT_TRUE(Click("I agree"));
  ASSERT_TRUE(Click("Next"));
  ASSERT_EQ(Page(), "kind");
  HWND newInstall = Visible("New install: Not previous tessel installed");
  HWND reinstall = Visible("ReInstall: Tessel already installed");
  HWND uninstall = Visible("UnInstall: Remove tessel from your computer");
  EXPECT_FALSE(IsWindowEnabled(newInstall));
  EXPECT_FALSE(Checked(newInstall));
  EXPECT_TRUE(Checked(reinstall));
  EXPECT_TRUE(IsWindowEnabled(uninstall));

  ASSERT_TRUE(Click("UnInstall: Remove tessel from your computer"));
  EXPECT_TRUE(Checked(uninstall));
  EXPECT_FALSE(Checked(reinstall));
  ASSERT_TRUE(Click("Next"));
  EXPECT_EQ(Page(), "confirmation") << "an uninstall skips the folder page";
  ASSERT_TRUE(Click("Back"));
  EXPECT_EQ(Page(), "kind");
  ASSERT_TRUE(Click("Exit"));
  EXPECT_EQ(setup.WaitExit(), 0);
}

TEST(Wizard, EnterPressesTheVisiblePagesDefaultButton) {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, SClsidKey);
  TSetupProcess setup;
  ASSERT_NE(setup.Window(), nullptr);
  // Keys go to the focused control; the page shown put the focus in itself.
  auto enter = [] {
    HWND focus = nullptr;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(Wizard(), nullptr), &info))
      focus = info.hwndFocus;
    ASSERT_NE(focus, nullptr);
    SendMessageA(focus, WM_KEYDOWN, VK_RETURN, 0);
  };
  enter();
  EXPECT_EQ(Page(), "licence");
  enter(); // Next is disabled here: nothing happens
  EXPECT_EQ(Page(), "licence");
  ASSERT_TRUE(Click("Exit"));
  EXPECT_EQ(setup.WaitExit(), 0);
}

} // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "wait")
    return WaitForWindow("QlxTForm1", "QLX Installer") ? 0 : 1;
  if (argc > 1 && std::string(argv[1]) == "click") {
    for (int i = 2; i < argc; ++i)
      if (!Click(argv[i]))
        return 1;
    return 0;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
