#include "Application.h"

#include <ole2.h>

#include <vector>

#include "rtl/SysUtils.h"

namespace ui {

TApplication* Application = nullptr;

namespace {

constexpr const char* SApplicationClass = "TApplication";

LRESULT CALLBACK ApplicationWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  // Closing the application window from outside ends the program instead of
  // leaving the forms without their owner.
  if (msg == WM_CLOSE) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(wnd, msg, wParam, lParam);
}

void RegisterApplicationClass() {
  WNDCLASSA cls{};
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  if (GetClassInfoA(instance, SApplicationClass, &cls))
    return;
  cls.lpfnWndProc = ApplicationWndProc;
  cls.hInstance = instance;
  cls.lpszClassName = SApplicationClass;
  if (!RegisterClassA(&cls))
    throw rtl::EOSError(rtl::SysErrorMessage(GetLastError()));
}

// Set while a message box of ours is being created, so the CBT hook moves
// exactly that box; a box shown from inside another one saves and restores it.
thread_local bool tCentrePending = false;

void CentreOnScreen(HWND box) {
  RECT r{};
  if (!GetWindowRect(box, &r))
    return;
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  SetWindowPos(box, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool IsDialogWindow(HWND wnd) {
  char name[16] = {};
  return GetClassNameA(wnd, name, sizeof name) > 0 && lstrcmpA(name, "#32770") == 0;
}

LRESULT CALLBACK CentreBoxHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && tCentrePending) {
    const HWND wnd = reinterpret_cast<HWND>(wParam);
    if (IsDialogWindow(wnd)) {
      tCentrePending = false;
      CentreOnScreen(wnd);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Centres the next dialog box that this thread activates, while it lives.
class TCentreNextBox {
public:
  TCentreNextBox()
      : FPrevious(tCentrePending),
        FHook(SetWindowsHookExA(WH_CBT, CentreBoxHook, nullptr, GetCurrentThreadId())) {
    tCentrePending = true;
  }
  ~TCentreNextBox() {
    if (FHook)
      UnhookWindowsHookEx(FHook);
    tCentrePending = FPrevious;
  }
  TCentreNextBox(const TCentreNextBox&) = delete;
  TCentreNextBox& operator=(const TCentreNextBox&) = delete;

private:
  bool FPrevious;
  HHOOK FHook;
};

// The box's owner is the hidden application window, so the system disables
// only that; the forms it owns would stay usable behind a "modal" box. This
// disables the thread's other visible windows for the box's lifetime and
// gives the activation back afterwards.
class TDisableTaskWindows {
public:
  explicit TDisableTaskWindows(HWND keep) : FKeep(keep), FActive(GetActiveWindow()) {
    EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(this));
    for (HWND wnd : FDisabled)
      EnableWindow(wnd, FALSE);
  }
  ~TDisableTaskWindows() {
    for (auto it = FDisabled.rbegin(); it != FDisabled.rend(); ++it)
      if (IsWindow(*it))
        EnableWindow(*it, TRUE);
    if (FActive && IsWindow(FActive))
      SetActiveWindow(FActive);
  }
  TDisableTaskWindows(const TDisableTaskWindows&) = delete;
  TDisableTaskWindows& operator=(const TDisableTaskWindows&) = delete;

private:
  static BOOL CALLBACK Collect(HWND wnd, LPARAM self) noexcept {
    auto* me = reinterpret_cast<TDisableTaskWindows*>(self);
    if (wnd == me->FKeep || !IsWindowVisible(wnd) || !IsWindowEnabled(wnd))
      return TRUE;
    try {
      me->FDisabled.push_back(wnd);
    } catch (...) {
      return FALSE;
    }
    return TRUE;
  }

  HWND FKeep;
  HWND FActive;
  std::vector<HWND> FDisabled;
};

} // namespace

TApplication::TApplication() {
  if (Application)
    throw rtl::Exception("Only one application object may exist");
  Application = this;
}

TApplication::~TApplication() {
  if (FHandle)
    DestroyWindow(FHandle);
  if (FComInitialized)
    OleUninitialize();
  Application = nullptr;
}

void TApplication::Initialize() {
  if (!FComInitialized)
    FComInitialized = SUCCEEDED(OleInitialize(nullptr));
  if (FHandle)
    return;
  RegisterApplicationClass();
  FHandle = CreateWindowExA(0, SApplicationClass, FTitle.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!FHandle)
    throw rtl::EOSError(rtl::SysErrorMessage(GetLastError()));
}

void TApplication::SetTitle(const std::string& value) {
  FTitle = value;
  if (FHandle)
    SetWindowTextA(FHandle, FTitle.c_str());
}

void TApplication::DispatchOne(const MSG& msg) {
  if (msg.message == WM_QUIT) {
    FTerminated = true;
    return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    DispatchOne(msg);
}

void TApplication::Run() {
  MSG msg;
  while (!FTerminated) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == -1)
      break; // only for invalid arguments: nothing left to wait for
    if (got == 0)
      FTerminated = true;
    else
      DispatchOne(msg);
  }
}

void TApplication::Terminate() {
  PostQuitMessage(0);
}

int TApplication::ShowBox(const std::string& text, UINT flags, const char* caption) {
  TDisableTaskWindows disabled(FHandle);
  TCentreNextBox centred;
  return MessageBoxA(FHandle, text.c_str(), caption ? caption : FTitle.c_str(), flags);
}

void TApplication::MessageBox(const std::string& text) {
  ShowBox(text, MB_OK);
}

bool TApplication::Confirm(const std::string& text) {
  return ShowBox(text, MB_YESNO) == IDYES;
}

void TApplication::ShowException(const std::exception& error) {
  ShowBox(error.what(), MB_OK | MB_ICONERROR);
}

void TApplication::ErrorDialog(const std::string& text) {
  ShowBox(text, MB_OK | MB_ICONERROR, "Error");
}

} // namespace ui
