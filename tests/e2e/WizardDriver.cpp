// Walks the real setup program's pages through window messages only, as a
// user's clicks would. Also a command line tool for the screenshot script:
//   qlx_wizard_driver click TEXT...   clicks the visible buttons in order
//   qlx_wizard_driver wait            waits for the wizard window
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "PlainPrinter.h"
#include "SetupDriver.h"

using namespace e2e;

namespace {

constexpr const char* SClsidKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\InProcServer32";

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

TEST(Wizard, NewInstallWalksEveryPageMove) {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, SClsidKey);
  TSetupProcess setup(QLX_SETUP_EXE);
  const HWND w = setup.Wizard();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(Page(w), "welcome");
  EXPECT_EQ(Visible(w, "Back"), nullptr);

  ASSERT_TRUE(Click(w, "Next"));
  ASSERT_EQ(Page(w), "licence");
  EXPECT_FALSE(IsWindowEnabled(Visible(w, "Next"))) << "Next waits for I agree";
  EXPECT_FALSE(Checked(Visible(w, "I agree")));
  ASSERT_TRUE(Click(w, "I agree"));
  EXPECT_TRUE(IsWindowEnabled(Visible(w, "Next")));
  ASSERT_TRUE(Click(w, "I agree"));
  EXPECT_FALSE(IsWindowEnabled(Visible(w, "Next")));
  ASSERT_TRUE(Click(w, "I agree"));
  ASSERT_TRUE(Click(w, "Back"));
  EXPECT_EQ(Page(w), "welcome");
  ASSERT_TRUE(Click(w, "Next"));
  EXPECT_TRUE(Checked(Visible(w, "I agree"))) << "the box keeps its state";
  ASSERT_TRUE(Click(w, "Next"));
  ASSERT_EQ(Page(w), "kind");

  HWND newInstall = Visible(w, SNewInstall);
  HWND reinstall = Visible(w, SReinstall);
  HWND uninstall = Visible(w, SUninstall);
  ASSERT_TRUE(newInstall && reinstall && uninstall);
  EXPECT_TRUE(Checked(newInstall));
  EXPECT_TRUE(IsWindowEnabled(newInstall));
  EXPECT_FALSE(IsWindowEnabled(reinstall));
  EXPECT_FALSE(IsWindowEnabled(uninstall));

  ASSERT_TRUE(Click(w, "Back"));
  EXPECT_EQ(Page(w), "licence");
  EXPECT_TRUE(IsWindowEnabled(Visible(w, "Next")));
  ASSERT_TRUE(Click(w, "Next"));
  ASSERT_TRUE(Click(w, "Next"));
  ASSERT_EQ(Page(w), "folder");

  const std::string folder = Folder(w);
  EXPECT_GT(folder.size(), 8u);
  EXPECT_EQ(folder.substr(folder.size() - 8), "\\QLXT3SE");
  SetFolder(w, "");
  EXPECT_FALSE(IsWindowEnabled(Visible(w, "Next"))) << "an empty folder stops Next";
  SetFolder(w, "C:\\Tools\\QLXT3SE");
  EXPECT_TRUE(IsWindowEnabled(Visible(w, "Next")));

  ASSERT_TRUE(Click(w, "Next"));
  ASSERT_EQ(Page(w), "confirmation");
  ASSERT_TRUE(Click(w, "Back"));
  EXPECT_EQ(Page(w), "folder");
  ASSERT_TRUE(Click(w, "Back"));
  EXPECT_EQ(Page(w), "kind");
  ASSERT_TRUE(Click(w, "Exit"));
  EXPECT_EQ(setup.WaitExit(), 0);
}

TEST(Wizard, InstalledProductOffersReinstallAndUninstall) {
  TRegisteredProduct registered("C:\\Program Files\\QLXT3SE\\QLX_Tessel_3.dll");
  TSetupProcess setup(QLX_SETUP_EXE);
  const HWND w = setup.Wizard();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(Click(w, "Next"));
  ASSERT_TRUE(Click(w, "I agree"));
  ASSERT_TRUE(Click(w, "Next"));
  ASSERT_EQ(Page(w), "kind");
  HWND newInstall = Visible(w, SNewInstall);
  HWND reinstall = Visible(w, SReinstall);
  HWND uninstall = Visible(w, SUninstall);
  EXPECT_FALSE(IsWindowEnabled(newInstall));
  EXPECT_FALSE(Checked(newInstall));
  EXPECT_TRUE(Checked(reinstall));
  EXPECT_TRUE(IsWindowEnabled(uninstall));

  ASSERT_TRUE(Click(w, SUninstall));
  EXPECT_TRUE(Checked(uninstall));
  EXPECT_FALSE(Checked(reinstall));
  ASSERT_TRUE(Click(w, "Next"));
  EXPECT_EQ(Page(w), "confirmation") << "an uninstall skips the folder page";
  ASSERT_TRUE(Click(w, "Back"));
  EXPECT_EQ(Page(w), "kind");

  // A reinstall goes through the folder page, and comes back to it.
  ASSERT_TRUE(Click(w, SReinstall));
  ASSERT_TRUE(Click(w, "Next"));
  EXPECT_EQ(Page(w), "folder");
  ASSERT_TRUE(Click(w, "Next"));
  EXPECT_EQ(Page(w), "confirmation");
  ASSERT_TRUE(Click(w, "Back"));
  EXPECT_EQ(Page(w), "folder");
  ASSERT_TRUE(Click(w, "Exit"));
  EXPECT_EQ(setup.WaitExit(), 0);
}

// Every page's "Exit" ends the program at once, with nothing asked; Enter on
// the focused "Exit" presses it.
TEST(Wizard, ExitEndsTheProgramFromEveryPage) {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, SClsidKey);
  const std::vector<std::vector<const char*>> walks = {{},
                                                       {"Next"},
                                                       {"Next", "I agree", "Next"},
                                                       {"Next", "I agree", "Next", "Next"},
                                                       {"Next", "I agree", "Next", "Next", "Next"}};
  const char* pages[] = {"welcome", "licence", "kind", "folder", "confirmation"};
  for (size_t i = 0; i < walks.size(); ++i) {
    TSetupProcess setup(QLX_SETUP_EXE);
    const HWND w = setup.Wizard();
    ASSERT_NE(w, nullptr);
    for (const char* button : walks[i])
      ASSERT_TRUE(Click(w, button)) << button;
    EXPECT_EQ(Page(w), pages[i]);
    // Tab to "Exit" and Enter: the focused button, never the default one.
    const HWND exit = Visible(w, "Exit");
    for (int tabs = 0; tabs < 8 && Focused(w) != exit; ++tabs)
      PressKey(w, VK_TAB);
    ASSERT_EQ(Focused(w), exit) << pages[i];
    PressKey(w, VK_RETURN);
    EXPECT_EQ(setup.WaitExit(), 0) << pages[i];
  }
}

// Keys as in every Windows dialog: Enter presses the focused push button,
// else the default one; radio groups are one tab stop moved with the arrows;
// Escape does nothing.
TEST(Wizard, KeysWorkAsInADialog) {
  TRegisteredProduct registered("C:\\Program Files\\QLXT3SE\\QLX_Tessel_3.dll");
  TSetupProcess setup(QLX_SETUP_EXE);
  const HWND w = setup.Wizard();
  ASSERT_NE(w, nullptr);
  const HWND next = Visible(w, "Next"), exit = Visible(w, "Exit");
  ASSERT_EQ(Focused(w), next);
  EXPECT_TRUE(Framed(next));
  PressKey(w, VK_TAB);
  EXPECT_EQ(Focused(w), exit);
  EXPECT_TRUE(Framed(exit) && !Framed(next)) << "the default frame follows the focus";
  PressKey(w, VK_TAB);
  EXPECT_EQ(Focused(w), next) << "Tab cycles within the visible page";
  PressKey(w, VK_TAB, true);
  EXPECT_EQ(Focused(w), exit) << "Shift+Tab goes back";
  PressKey(w, VK_ESCAPE);
  EXPECT_TRUE(setup.Running());
  EXPECT_EQ(Page(w), "welcome") << "Escape does nothing";
  PressKey(w, VK_TAB);
  PressKey(w, VK_RETURN);
  ASSERT_EQ(Page(w), "licence");

  const HWND agree = Visible(w, "I agree");
  EXPECT_EQ(Focused(w), agree);
  PressKey(w, VK_RETURN);
  EXPECT_EQ(Page(w), "licence") << "the default Next is disabled";
  PressKey(w, VK_SPACE);
  EXPECT_TRUE(Checked(agree));
  PressKey(w, VK_TAB);
  PressKey(w, VK_TAB);
  ASSERT_EQ(Focused(w), Visible(w, "Back"));
  PressKey(w, VK_RETURN);
  ASSERT_EQ(Page(w), "welcome") << "Enter presses the focused Back, not the default";
  PressKey(w, VK_RETURN);
  ASSERT_EQ(Page(w), "licence");
  PressKey(w, VK_RETURN); // the check box has the focus: the default button
  ASSERT_EQ(Page(w), "kind");

  const HWND reinstall = Visible(w, SReinstall), uninstall = Visible(w, SUninstall);
  EXPECT_EQ(Focused(w), reinstall) << "the group is entered at its selected button";
  PressKey(w, VK_DOWN);
  EXPECT_EQ(Focused(w), uninstall);
  EXPECT_TRUE(Checked(uninstall) && !Checked(reinstall));
  PressKey(w, VK_DOWN);
  EXPECT_EQ(Focused(w), reinstall) << "the disabled New install is skipped";
  PressKey(w, VK_UP);
  EXPECT_EQ(Focused(w), uninstall);
  EXPECT_TRUE(Checked(uninstall));
  PressKey(w, VK_TAB);
  EXPECT_EQ(Focused(w), Visible(w, "Next")) << "the group is one tab stop";
  PressKey(w, VK_TAB, true);
  EXPECT_EQ(Focused(w), uninstall);
  PressKey(w, VK_RETURN);
  ASSERT_EQ(Page(w), "confirmation");

  // Tab to "Exit" and Enter: the program ends, "Start" never runs.
  PressKey(w, VK_TAB);
  PressKey(w, VK_TAB);
  ASSERT_EQ(Focused(w), Visible(w, "Exit"));
  EXPECT_FALSE(Framed(Visible(w, "Start")));
  PressKey(w, VK_RETURN);
  EXPECT_EQ(setup.WaitExit(), 0);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, SClsidKey, 0, KEY_READ, &key), ERROR_SUCCESS)
      << "nothing was unregistered";
  RegCloseKey(key);
}

// One taskbar button, the application's; the folder browser is modal for the
// wizard and gives the focus back to "Browse".
TEST(Wizard, OneTaskbarButtonAndAModalBrowser) {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, SClsidKey);
  TSetupProcess setup(QLX_SETUP_EXE);
  const HWND w = setup.Wizard();
  ASSERT_NE(w, nullptr);
  std::vector<HWND> buttons = TaskbarWindows(setup.Id());
  ASSERT_EQ(buttons.size(), 1u);
  EXPECT_EQ(TextOf(buttons[0]), "QLXT3SE");
  // Its icon cannot be checked from here: Wine answers WM_GETICON and
  // GetClassLongPtr(GCLP_HICON) from another process with null.
  SetForegroundWindow(buttons[0]);
  EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == w; }, 10))
      << "activating the button brings the wizard forward";

  ASSERT_TRUE(WalkToConfirmation(w));
  ASSERT_TRUE(Click(w, "Back"));
  ASSERT_EQ(Page(w), "folder");
  const HWND browse = Visible(w, "Browse");
  PressKey(w, VK_TAB); // from the folder field
  ASSERT_EQ(Focused(w), browse);
  ASSERT_TRUE(PostClick(w, "Browse"));
  HWND browser = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (browser = TopLevel(setup.Id(), "#32770")) != nullptr; }, 30));
  EXPECT_FALSE(IsWindowEnabled(w)) << "the wizard takes no input while the browser is open";
  EXPECT_EQ(TaskbarWindows(setup.Id()).size(), 1u) << "the browser has no button of its own";
  PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(w) && !IsWindow(browser); }, 20));
  EXPECT_EQ(Focused(w), browse);
  ASSERT_TRUE(Click(w, "Exit"));
  EXPECT_EQ(setup.WaitExit(), 0);
}

} // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "wait")
    return WaitForWizard() ? 0 : 1;
  if (argc > 1 && std::string(argv[1]) == "click") {
    for (int i = 2; i < argc; ++i)
      if (!Click(FindWizard(), argv[i]))
        return 1;
    return 0;
  }
  testing::InitGoogleTest(&argc, argv);
  UsePlainPrinter();
  return RUN_ALL_TESTS();
}
