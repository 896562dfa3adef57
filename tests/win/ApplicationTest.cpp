// The application object: its window, its message loop, and the message boxes
// as the system really shows them.
#include <gtest/gtest.h>

#include <objbase.h>

#include "WinTestSupport.h"
#include "ui/Application.h"

namespace {

struct TBoxLook {
  std::string Caption, Text, ClassName;
  std::vector<std::string> Buttons;
  bool Icon = false;
  RECT Rect{};
  HWND Owner = nullptr;
  bool FormEnabled = true;
};

TBoxLook Inspect(HWND box, HWND form) {
  TBoxLook look;
  look.Caption = wintest::WindowText(box);
  look.Text = wintest::WindowText(GetDlgItem(box, 0xFFFF));
  GetWindowRect(box, &look.Rect);
  look.Owner = GetWindow(box, GW_OWNER);
  look.FormEnabled = IsWindowEnabled(form) != FALSE;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child))
      continue;
    const std::string cls = wintest::ClassOf(child);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (cls == "Button")
      look.Buttons.push_back(wintest::WindowText(child));
    else if (cls == "Static" && (style & SS_TYPEMASK) == SS_ICON &&
             SendMessageA(child, STM_GETICON, 0, 0) != 0)
      look.Icon = true;
  }
  return look;
}

class ApplicationTest : public ::testing::Test {
protected:
  void SetUp() override {
    FApp.SetTitle("QLXT3SE");
    FApp.Initialize();
    // A visible window standing for a form that the application window owns.
    FForm = CreateWindowExA(0, "STATIC", "form", WS_POPUP | WS_VISIBLE, 10, 10, 200, 100,
                            FApp.Handle(), nullptr, nullptr, nullptr);
  }
  void TearDown() override { DestroyWindow(FForm); }

  template <typename Show> TBoxLook ShowAndInspect(Show show) {
    TBoxLook look;
    {
      wintest::TDialogWatcher watcher([&](HWND box) {
        look = Inspect(box, FForm);
        return IDOK;
      });
      show();
      EXPECT_TRUE(watcher.Found());
    }
    return look;
  }

  ui::TApplication FApp;
  HWND FForm = nullptr;
};

TEST_F(ApplicationTest, TheApplicationWindowIsHiddenAndCarriesTheTitle) {
  ASSERT_EQ(ui::Application, &FApp);
  ASSERT_TRUE(FApp.Handle());
  EXPECT_EQ(wintest::ClassOf(FApp.Handle()), "TApplication");
  EXPECT_EQ(wintest::WindowText(FApp.Handle()), "QLXT3SE");
  EXPECT_FALSE(IsWindowVisible(FApp.Handle()));
  EXPECT_FALSE(GetParent(FApp.Handle()));
  FApp.SetTitle("Other");
  EXPECT_EQ(wintest::WindowText(FApp.Handle()), "Other");
  EXPECT_THROW(ui::TApplication second, std::exception);
}

// What the first page does not need waits until the loop is idle: COM first,
// then the tasks in the order given.
TEST_F(ApplicationTest, IdleTasksRunInOrderOnceTheLoopIsIdleAndComIsUpFirst) {
  std::vector<HRESULT> done;
  FApp.RunWhenIdle([&] {
    done.push_back(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    CoUninitialize();
  });
  FApp.RunWhenIdle([&] {
    done.push_back(2);
    FApp.Terminate();
  });
  FApp.Run();
  EXPECT_EQ(done, (std::vector<HRESULT>{S_FALSE, 2})) << "S_FALSE: COM was up already";
}

TEST_F(ApplicationTest, ProcessMessagesDispatchesAllAndNotesTheQuit) {
  PostMessageA(FApp.Handle(), WM_NULL, 0, 0);
  PostMessageA(FApp.Handle(), WM_NULL, 0, 0);
  FApp.ProcessMessages();
  EXPECT_EQ(HIWORD(GetQueueStatus(QS_POSTMESSAGE)), 0);
  EXPECT_FALSE(FApp.Terminated());
  FApp.Terminate();
  FApp.ProcessMessages();
  EXPECT_TRUE(FApp.Terminated());
  // The quit was taken by the nested loop; the main loop must not wait for another.
  FApp.Run();
}

TEST_F(ApplicationTest, RunEndsWithTheQuitRequest) {
  PostMessageA(FApp.Handle(), WM_CLOSE, 0, 0); // closing the window from outside ends the loop
  FApp.Run();
  EXPECT_TRUE(FApp.Terminated());
  EXPECT_TRUE(IsWindow(FApp.Handle()));
}

TEST_F(ApplicationTest, MessageBoxIsPlainModalAndCentred) {
  const TBoxLook look = ShowAndInspect([&] { FApp.MessageBox("Uninstall successfull"); });
  EXPECT_EQ(look.Caption, "QLXT3SE");
  EXPECT_EQ(look.Text, "Uninstall successfull");
  EXPECT_EQ(look.Buttons, std::vector<std::string>{"OK"});
  EXPECT_FALSE(look.Icon);
  EXPECT_EQ(look.Owner, FApp.Handle());
  EXPECT_FALSE(look.FormEnabled);
  const int w = look.Rect.right - look.Rect.left, h = look.Rect.bottom - look.Rect.top;
  EXPECT_EQ(look.Rect.left, (GetSystemMetrics(SM_CXSCREEN) - w) / 2);
  EXPECT_EQ(look.Rect.top, (GetSystemMetrics(SM_CYSCREEN) - h) / 2);
  EXPECT_TRUE(IsWindowEnabled(FForm));
}

TEST_F(ApplicationTest, ShowExceptionUsesTheErrorIconAndTheSameCaption) {
  const TBoxLook look =
      ShowAndInspect([&] { FApp.ShowException(std::runtime_error("Stream write error")); });
  EXPECT_EQ(look.Caption, "QLXT3SE");
  EXPECT_EQ(look.Text, "Stream write error");
  EXPECT_EQ(look.Buttons, std::vector<std::string>{"OK"});
  EXPECT_TRUE(look.Icon);
  EXPECT_TRUE(IsWindowEnabled(FForm));
}

} // namespace
