#include "Application.h"

#include <ole2.h>

#include <vector>

#include "rtl/SysUtils.h"

namespace ui {

TApplication* Application = nullptr;

namespace {

constexpr const char* SApplicationClass = "TApplication";

// Posted to itself when the application window is activated.
constexpr UINT WM_QLX_FORWARDACTIVATION = WM_APP + 1;

// The application window stands for the program on the taskbar; when the
// user activates it (taskbar button, Alt+Tab) the window the user works in
// takes over: the form, or the box that the form waits for.
void ForwardActivation(HWND application) {
  const HWND popup = GetLastActivePopup(application);
  if (popup && popup != application && IsWindowVisible(popup) && IsWindowEnabled(popup))
    SetForegroundWindow(popup);
}

LRESULT CALLBACK ApplicationWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_CLOSE:
    // Closing the application window from outside ends the program instead of
    // leaving the forms without their owner.
    PostQuitMessage(0);
    return 0;
  case WM_ACTIVATE:
    // Not at once: the activation under way would take it back.
    if (LOWORD(wParam) != WA_INACTIVE)
      PostMessageA(wnd, WM_QLX_FORWARDACTIVATION, 0, 0);
    return 0;
  case WM_QLX_FORWARDACTIVATION:
    if (GetActiveWindow() == wnd)
      ForwardActivation(wnd);
    return 0;
  default:
    return DefWindowProcA(wnd, msg, wParam, lParam);
  }
}

// The icon's image drawn for the size the system shows at its DPI, so it is
// never a small one blown up; shared, so the system frees it.
HICON ProgramIcon(int width, int height) {
  return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), "MAINICON", IMAGE_ICON,
                                       GetSystemMetrics(width), GetSystemMetrics(height),
                                       LR_SHARED));
}

void RegisterApplicationClass() {
  WNDCLASSA cls{};
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  if (GetClassInfoA(instance, SApplicationClass, &cls))
    return;
  cls.lpfnWndProc = ApplicationWndProc;
  cls.hInstance = instance;
  // The program's icon, on its one taskbar button.
  cls.hIcon = ProgramIcon(SM_CXICON, SM_CYICON);
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

} // namespace

TDisableTaskWindows::TDisableTaskWindows(HWND keep) : FKeep(keep), FActive(GetActiveWindow()) {
  EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(this));
  for (HWND wnd : FDisabled)
    EnableWindow(wnd, FALSE);
}

TDisableTaskWindows::~TDisableTaskWindows() {
  for (auto it = FDisabled.rbegin(); it != FDisabled.rend(); ++it)
    if (IsWindow(*it))
      EnableWindow(*it, TRUE);
  // The form gets the activation back, and with it the focus it had.
  if (FActive && IsWindow(FActive))
    SetActiveWindow(FActive);
}

BOOL CALLBACK TDisableTaskWindows::Collect(HWND wnd, LPARAM self) noexcept {
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
  if (FHandle)
    return;
  RunWhenIdle([this] { InitializeCom(); });
  RegisterApplicationClass();
  FHandle = CreateWindowExA(0, SApplicationClass, FTitle.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!FHandle)
    throw rtl::EOSError(rtl::SysErrorMessage(GetLastError()));
  // Also as the window's own icon, which the shell (and WM_GETICON) asks first.
  if (const HICON icon = ProgramIcon(SM_CXICON, SM_CYICON))
    SendMessageA(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  if (const HICON icon = ProgramIcon(SM_CXSMICON, SM_CYSMICON))
    SendMessageA(FHandle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void TApplication::InitializeCom() {
  if (FComTried)
    return;
  FComTried = true;
  FComInitialized = SUCCEEDED(OleInitialize(nullptr));
}

void TApplication::RunWhenIdle(std::function<void()> task) {
  FIdleTasks.push_back(std::move(task));
}

void TApplication::RunIdleTask() {
  const std::function<void()> task = std::move(FIdleTasks.front());
  FIdleTasks.pop_front();
  try {
    task();
  } catch (const std::exception& e) {
    ShowException(e);
  }
}

void TApplication::SetTitle(const std::string& value) {
  FTitle = value;
  if (FHandle)
    SetWindowTextA(FHandle, FTitle.c_str());
}

void TApplication::SetTaskbarButton(bool shown) {
  if (FHandle)
    ShowWindow(FHandle, shown ? SW_SHOWNA : SW_HIDE);
}

namespace {

// Keys for a form go through the system's dialog manager: Tab, the arrow keys
// in radio groups, Enter for the focused or default push button, Escape to
// nothing.
bool IsDialogKey(MSG& msg) {
  if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST || !msg.hwnd)
    return false;
  const HWND root = GetAncestor(msg.hwnd, GA_ROOT);
  return root && GetPropA(root, SFormProperty) && IsDialogMessageA(root, &msg);
}

} // namespace

void TApplication::DispatchOne(MSG& msg) {
  if (msg.message == WM_QUIT) {
    FTerminated = true;
    return;
  }
  if (IsDialogKey(msg))
    return;
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
    // PeekMessage reports a pending paint too: idle means drawn.
    if (!FIdleTasks.empty() && !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      RunIdleTask();
      continue;
    }
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
