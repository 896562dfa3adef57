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

// Every page's "Exit" ends the program at once, with nothing asked.
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
    ASSERT_TRUE(Click(w, "Exit")) << pages[i];
    EXPECT_EQ(setup.WaitExit(), 0) << pages[i];
  }
}

TEST(Wizard, EnterPressesTheVisiblePagesDefaultButton) {
  RegDeleteKeyA(HKEY_CLASSES_ROOT, SClsidKey);
  TSetupProcess setup(QLX_SETUP_EXE);
  const HWND w = setup.Wizard();
  ASSERT_NE(w, nullptr);
  // Keys go to the focused control; the page shown put the focus in itself
  // (the window shows a moment before it is activated and takes the focus).
  auto enter = [w] {
    HWND focus = nullptr;
    WaitUntil(
        [&] {
          GUITHREADINFO info{};
          info.cbSize = sizeof info;
          if (GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &info))
            focus = info.hwndFocus;
          return focus != nullptr;
        },
        10);
    ASSERT_NE(focus, nullptr);
    SendMessageA(focus, WM_KEYDOWN, VK_RETURN, 0);
  };
  enter();
  EXPECT_EQ(Page(w), "licence");
  enter(); // Next is disabled here: nothing happens
  EXPECT_EQ(Page(w), "licence");
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
