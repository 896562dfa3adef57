// The real program on displays of 120, 144 and 192 DPI (the setting Wine
// reads when a program starts): every page's windows at their places at
// 96 DPI times DPI / 96, to the pixel, and the client area likewise.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "SetupDriver.h"

using namespace e2e;

namespace {

constexpr const char* SDesktopKey = "Control Panel\\Desktop";

// The display's DPI for the programs started while it lives; the setting
// that was there before comes back.
class TLogPixels {
public:
  explicit TLogPixels(DWORD dpi) {
    RegCreateKeyExA(HKEY_CURRENT_USER, SDesktopKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                    &FKey, nullptr);
    DWORD size = sizeof FOld;
    FHadOld = RegQueryValueExA(FKey, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&FOld),
                               &size) == ERROR_SUCCESS;
    RegSetValueExA(FKey, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                   sizeof dpi);
  }
  ~TLogPixels() {
    if (FHadOld)
      RegSetValueExA(FKey, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&FOld),
                     sizeof FOld);
    else
      RegDeleteValueA(FKey, "LogPixels");
    RegCloseKey(FKey);
  }
  TLogPixels(const TLogPixels&) = delete;
  TLogPixels& operator=(const TLogPixels&) = delete;

private:
  HKEY FKey = nullptr;
  DWORD FOld = 0;
  bool FHadOld = false;
};

// Window rectangles as the other process has them, not mapped to this
// thread's DPI (Wine maps them for a thread that is not per-monitor aware).
class TPerMonitorAware {
public:
  TPerMonitorAware() {
    using TSet = HANDLE(WINAPI*)(HANDLE);
    FSet = reinterpret_cast<TSet>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("user32.dll"), "SetThreadDpiAwarenessContext")));
    if (FSet)
      FOld = FSet(reinterpret_cast<HANDLE>(-3)); // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE
  }
  ~TPerMonitorAware() {
    if (FSet && FOld)
      FSet(FOld);
  }
  TPerMonitorAware(const TPerMonitorAware&) = delete;
  TPerMonitorAware& operator=(const TPerMonitorAware&) = delete;

private:
  HANDLE(WINAPI* FSet)(HANDLE) = nullptr;
  HANDLE FOld = nullptr;
};

struct TPlaced {
  std::string Name; // class and text
  RECT Rect;        // in the wizard's client area
};

BOOL CALLBACK CollectVisible(HWND wnd, LPARAM data) {
  auto* found = reinterpret_cast<std::pair<HWND, std::vector<TPlaced>>*>(data);
  if (!IsWindowVisible(wnd))
    return TRUE;
  char cls[64] = {};
  GetClassNameA(wnd, cls, sizeof cls);
  RECT r{};
  GetWindowRect(wnd, &r);
  MapWindowPoints(nullptr, found->first, reinterpret_cast<POINT*>(&r), 2);
  found->second.push_back({std::string(cls) + " " + TextOf(wnd), r});
  return TRUE;
}

// The client size and every visible window of each page that a walk without
// an install reaches.
struct TLayout {
  SIZE Client{};
  std::map<std::string, std::vector<TPlaced>> Pages;
};

TLayout Walk(DWORD dpi) {
  const TLogPixels display(dpi);
  TLayout layout;
  TSetupProcess setup(QLX_SETUP_EXE);
  const HWND w = setup.Wizard();
  if (!w)
    return layout;
  RECT client{};
  GetClientRect(w, &client);
  layout.Client = {client.right, client.bottom};
  const auto record = [&] {
    std::pair<HWND, std::vector<TPlaced>> found{w, {}};
    EnumChildWindows(w, CollectVisible, reinterpret_cast<LPARAM>(&found));
    layout.Pages[Page(w)] = found.second;
  };
  record();
  for (const char* step : {"Next", "I agree", "Next", "Next", "Next"}) {
    Click(w, step);
    if (std::string(step) == "Next")
      record();
  }
  Click(w, "Exit");
  setup.WaitExit();
  return layout;
}

TEST(Dpi, EveryPageScalesWithTheDisplay) {
  const TPerMonitorAware aware;
  const TLayout at96 = Walk(96);
  ASSERT_EQ(at96.Pages.size(), 5u);
  // At 96 DPI the places are the form's own.
  EXPECT_EQ(at96.Client.cx, 434);
  EXPECT_EQ(at96.Client.cy, 218);
  for (const TPlaced& p : at96.Pages.at("welcome"))
    if (p.Name == "Button Next") {
      EXPECT_EQ(p.Rect.left, 264);
      EXPECT_EQ(p.Rect.top, 176);
      EXPECT_EQ(p.Rect.right - p.Rect.left, 75);
      EXPECT_EQ(p.Rect.bottom - p.Rect.top, 25);
    }
  for (const DWORD dpi : {120u, 144u, 192u}) {
    SCOPED_TRACE(dpi);
    const auto scaled = [dpi](LONG v) { return MulDiv(v, static_cast<int>(dpi), 96); };
    const TLayout layout = Walk(dpi);
    EXPECT_EQ(layout.Client.cx, scaled(434));
    EXPECT_EQ(layout.Client.cy, scaled(218));
    ASSERT_EQ(layout.Pages.size(), at96.Pages.size());
    for (const auto& [page, places] : at96.Pages) {
      const std::vector<TPlaced>& now = layout.Pages.at(page);
      ASSERT_EQ(now.size(), places.size()) << page;
      for (size_t i = 0; i < places.size(); ++i) {
        const RECT& was = places[i].Rect;
        const RECT& r = now[i].Rect;
        EXPECT_EQ(now[i].Name, places[i].Name) << page;
        EXPECT_EQ(r.left, scaled(was.left)) << page << ": " << places[i].Name;
        EXPECT_EQ(r.top, scaled(was.top)) << page << ": " << places[i].Name;
        EXPECT_EQ(r.right - r.left, scaled(was.right - was.left)) << page << ": " << places[i].Name;
        EXPECT_EQ(r.bottom - r.top, scaled(was.bottom - was.top)) << page << ": " << places[i].Name;
      }
    }
  }
}

} // namespace
