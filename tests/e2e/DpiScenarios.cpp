// The real program on displays of 120, 144 and 192 DPI (the setting Wine
// reads when a program starts): every page's windows at their 96-DPI places
// times DPI / 96, to the pixel, and the client area likewise.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "SetupDriver.h"

using namespace e2e;

namespace {

// The display's DPI for the programs started while it lives; the prefix has
// none set otherwise.
class TLogPixels {
public:
  explicit TLogPixels(DWORD dpi) {
    RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD, &dpi,
                    sizeof dpi);
  }
  ~TLogPixels() { RegDeleteKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels"); }
  TLogPixels(const TLogPixels&) = delete;
  TLogPixels& operator=(const TLogPixels&) = delete;
};

using TLayout = std::map<std::string, std::vector<RECT>>; // page: its windows, "client" too

BOOL CALLBACK CollectVisible(HWND wnd, LPARAM data) {
  auto* found = reinterpret_cast<std::pair<HWND, std::vector<RECT>>*>(data);
  RECT r{};
  if (IsWindowVisible(wnd) && GetWindowRect(wnd, &r)) {
    MapWindowPoints(nullptr, found->first, reinterpret_cast<POINT*>(&r), 2);
    found->second.push_back(r);
  }
  return TRUE;
}

TLayout Walk(DWORD dpi) {
  const TLogPixels display(dpi);
  TLayout layout;
  TSetupProcess setup(QLX_SETUP_EXE);
  const HWND w = setup.Wizard();
  RECT client{};
  if (!w || !GetClientRect(w, &client))
    return layout;
  layout["client"] = {client};
  for (const char* step : {"", "Next", "I agree", "Next", "Next", "Next"}) {
    if (*step)
      Click(w, step);
    std::pair<HWND, std::vector<RECT>> found{w, {}};
    EnumChildWindows(w, CollectVisible, reinterpret_cast<LPARAM>(&found));
    layout[Page(w)] = found.second;
  }
  Click(w, "Exit");
  setup.WaitExit();
  return layout;
}

TEST(Dpi, EveryPageScalesWithTheDisplay) {
  // Rectangles as the program has them: Wine maps them to the DPI of a
  // thread that is not per-monitor aware.
  using TSetContext = HANDLE(WINAPI*)(HANDLE);
  if (const auto set = reinterpret_cast<TSetContext>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext"))))
    set(reinterpret_cast<HANDLE>(-3)); // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE
  const TLayout at96 = Walk(96);
  ASSERT_EQ(at96.size(), 6u) << "the client area and five pages";
  // At 96 DPI the form's own places: the client area, "Next" on the welcome page.
  const RECT client{0, 0, 434, 218}, next{264, 176, 264 + 75, 176 + 25};
  EXPECT_TRUE(EqualRect(&at96.at("client")[0], &client));
  const std::vector<RECT>& welcome = at96.at("welcome");
  EXPECT_TRUE(std::any_of(welcome.begin(), welcome.end(),
                          [&](const RECT& r) { return EqualRect(&r, &next); }));
  for (const DWORD dpi : {120u, 144u, 192u}) {
    const TLayout layout = Walk(dpi);
    ASSERT_EQ(layout.size(), at96.size()) << dpi;
    for (const auto& [page, windows] : at96) {
      ASSERT_EQ(layout.at(page).size(), windows.size()) << page << " at " << dpi;
      for (size_t i = 0; i < windows.size(); ++i) {
        const RECT& was = windows[i];
        const auto scaled = [dpi](LONG v) { return MulDiv(v, static_cast<int>(dpi), 96); };
        const RECT want{scaled(was.left), scaled(was.top),
                        scaled(was.left) + scaled(was.right - was.left),
                        scaled(was.top) + scaled(was.bottom - was.top)};
        EXPECT_TRUE(EqualRect(&layout.at(page)[i], &want))
            << page << " window " << i << " at " << dpi;
      }
    }
  }
}

} // namespace
