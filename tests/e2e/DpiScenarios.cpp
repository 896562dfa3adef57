// The real program on displays of 120, 144 and 192 DPI (the setting Wine
// reads when a program starts): every page's windows at their 96-DPI places
// times DPI / 96, to the pixel, and the client area likewise.
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "SetupDriver.h"

using namespace e2e;

namespace {

constexpr const char* SDesktopKey = "Control Panel\\Desktop";

BOOL CALLBACK CollectVisible(HWND wnd, LPARAM data) {
  RECT r{};
  if (IsWindowVisible(wnd) && GetWindowRect(wnd, &r))
    reinterpret_cast<std::vector<RECT>*>(data)->push_back(r);
  return TRUE;
}

// The client area, then every visible window of each page that a walk
// without an install reaches, from the client area's origin.
std::vector<RECT> Walk(DWORD dpi) {
  RegSetKeyValueA(HKEY_CURRENT_USER, SDesktopKey, "LogPixels", REG_DWORD, &dpi, sizeof dpi);
  TSetupProcess setup(QLX_SETUP_EXE);
  RegDeleteKeyValueA(HKEY_CURRENT_USER, SDesktopKey, "LogPixels"); // read at the start
  std::vector<RECT> found(1);
  const HWND w = setup.Wizard();
  if (!w || !GetClientRect(w, &found[0]))
    return {};
  for (const char* step : {"Next", "I agree", "Next", "Next", "Next", "Exit"}) {
    const size_t from = found.size();
    EnumChildWindows(w, CollectVisible, reinterpret_cast<LPARAM>(&found));
    for (size_t i = from; i < found.size(); ++i)
      MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&found[i]), 2);
    Click(w, step);
  }
  setup.WaitExit();
  return found;
}

TEST(Dpi, EveryPageScalesWithTheDisplay) {
  // The program's own rectangles: Wine maps them to the DPI of a thread
  // that is not per-monitor aware.
  using TSetContext = HANDLE(WINAPI*)(HANDLE);
  if (const auto set = reinterpret_cast<TSetContext>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext"))))
    set(reinterpret_cast<HANDLE>(-3)); // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE
  const std::vector<RECT> at96 = Walk(96);
  ASSERT_GT(at96.size(), 30u);
  // At 96 DPI the form's own places: the client area, "Next" on the welcome page.
  const RECT client{0, 0, 434, 218}, next{264, 176, 264 + 75, 176 + 25};
  EXPECT_TRUE(EqualRect(&at96[0], &client));
  EXPECT_TRUE(
      std::any_of(at96.begin(), at96.end(), [&](const RECT& r) { return EqualRect(&r, &next); }));
  for (const int dpi : {120, 144, 192}) {
    const std::vector<RECT> now = Walk(static_cast<DWORD>(dpi));
    ASSERT_EQ(now.size(), at96.size()) << dpi;
    const auto s = [dpi](LONG v) { return MulDiv(v, dpi, 96); };
    for (size_t i = 0; i < now.size(); ++i) {
      const RECT& was = at96[i];
      const RECT want{s(was.left), s(was.top), s(was.left) + s(was.right - was.left),
                      s(was.top) + s(was.bottom - was.top)};
      EXPECT_TRUE(EqualRect(&now[i], &want)) << "window " << i << " at " << dpi;
    }
  }
}

} // namespace
