// The folder browser: the placement arithmetic, the callback on a real window,
// and Wine's own browser dialog driven through its messages.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include <commctrl.h>
#include <shlobj.h>

#include "WinTestSupport.h"
#include "setup/Unit2.h"
#include "ui/Application.h"

using namespace setup;

namespace {

TEST(CenteredBrowsePosition, CountsFromTheScreenNotTheWorkArea) {
  const POINT a = CenteredBrowsePosition(RECT{0, 0, 1024, 738}, RECT{5, 7, 406, 307});
  EXPECT_EQ(a.x, 312);
  EXPECT_EQ(a.y, 219);
  // Taskbar on the left: 282, not the 342 that centring within the work area gives.
  const POINT b = CenteredBrowsePosition(RECT{60, 0, 1024, 738}, RECT{0, 0, 401, 300});
  EXPECT_EQ(b.x, 282);
  // Larger than the work area: both halves truncate toward zero.
  const POINT c = CenteredBrowsePosition(RECT{0, 0, 101, 101}, RECT{0, 0, 303, 303});
  EXPECT_EQ(c.x, 50 - 151);
  EXPECT_EQ(c.y, 50 - 151);
}

TEST(CenterBrowseDialog, MovesTheDialogOnlyWhenInitialised) {
  const HWND dialog = CreateWindowExA(0, "STATIC", "", WS_POPUP, 3, 4, 401, 300, nullptr, nullptr,
                                      nullptr, nullptr);
  ASSERT_TRUE(dialog);
  RECT r{};
  EXPECT_EQ(CenterBrowseDialog(dialog, BFFM_SELCHANGED, 0, 0), 0);
  GetWindowRect(dialog, &r);
  EXPECT_EQ(r.left, 3);
  EXPECT_EQ(r.top, 4);

  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const POINT expected = CenteredBrowsePosition(work, RECT{0, 0, 401, 300});
  EXPECT_EQ(CenterBrowseDialog(dialog, BFFM_INITIALIZED, 0, 0), 0);
  GetWindowRect(dialog, &r);
  EXPECT_EQ(r.left, expected.x);
  EXPECT_EQ(r.top, expected.y);
  EXPECT_EQ(r.right - r.left, 401);
  EXPECT_EQ(r.bottom - r.top, 300);
  DestroyWindow(dialog);
}

class SelectFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    FApp.SetTitle("QLXT3SE");
    FApp.Initialize();
  }

  // Runs the browser; the watcher selects path (when given) and presses button.
  // Under emulation Wine's browser now and then opens with a tree that will not
  // take a selection; the test then cancels it and opens the browser again.
  std::string Browse(const char* path, int button, std::string& folder) {
    for (int attempt = 1;; ++attempt) {
      bool selected = path == nullptr;
      std::string result;
      {
        wintest::TDialogWatcher watcher([&](HWND dialog) {
          RECT r{}, work{};
          GetWindowRect(dialog, &r);
          SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
          FPlacedAt = POINT{r.left, r.top};
          FExpectedAt = CenteredBrowsePosition(work, r);
          FOwner = GetWindow(dialog, GW_OWNER);
          if (path)
            selected = SelectInTree(dialog, path);
          return selected || attempt == 3 ? button : IDCANCEL;
        });
        result = SelectFolder("Choose an installation folder",
                              BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE, folder);
        EXPECT_TRUE(watcher.Found());
      }
      if (selected || attempt == 3) {
        FSelected = selected;
        return result;
      }
      std::printf("the browser did not take the selection %s; opening it again\n", path);
    }
  }

  // The browser fills its tree as it opens, so a request made too early is
  // repeated until the tree shows it. Every folder asked for lies below the
  // desktop, so a selection that took has a parent item.
  static bool SelectInTree(HWND dialog, const char* path) {
    const HWND tree = FindWindowExA(dialog, nullptr, WC_TREEVIEWA, nullptr);
    for (int i = 0; i < 20; ++i) {
      SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path));
      const auto caret =
          reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
      if (caret &&
          SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(caret)))
        return true;
      Sleep(250);
    }
    return false;
  }

  ui::TApplication FApp;
  bool FSelected = false;
  POINT FPlacedAt{}, FExpectedAt{};
  HWND FOwner = nullptr;
};

TEST_F(SelectFolderTest, ReturnsTheChosenFolder) {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  std::string folder = "stale";
  EXPECT_EQ(Browse(windows, IDOK, folder), windows);
  EXPECT_TRUE(FSelected);
  EXPECT_EQ(folder, windows);
  EXPECT_EQ(FPlacedAt.x, FExpectedAt.x);
  EXPECT_EQ(FPlacedAt.y, FExpectedAt.y);
  EXPECT_EQ(FOwner, FApp.Handle());

  // A drive root keeps its delimiter.
  const std::string root = std::string(windows, 3);
  EXPECT_EQ(Browse(root.c_str(), IDOK, folder), root);
  EXPECT_TRUE(FSelected);
  EXPECT_EQ(folder.back(), '\\');
}

TEST_F(SelectFolderTest, CancelLeavesTheFolderEmpty) {
  std::string folder = "C:\\previous";
  EXPECT_EQ(Browse(nullptr, IDCANCEL, folder), "");
  EXPECT_EQ(folder, "");
}

} // namespace
