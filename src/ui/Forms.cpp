#include "Forms.h"

#include <algorithm>

#include "Application.h"
#include "StdCtrls.h"
#include "rtl/Streams.h"

namespace ui {

TForm* MainForm = nullptr;

TForm::TForm(rtl::TComponent* owner) : TWinControl(owner) {
  TControl::SetVisible(false);
  SetParentFont(false);
  SetColor(clBtnFace);
}

TForm::~TForm() {
  if (MainForm == this)
    MainForm = nullptr;
  DestroyHandle();
}

void TForm::LoadFromResource(const char* resourceName) {
  const HMODULE module = GetModuleHandleA(nullptr);
  HRSRC info = FindResourceA(module, resourceName, MAKEINTRESOURCEA(10)); // RT_RCDATA
  HGLOBAL data = info ? LoadResource(module, info) : nullptr;
  const void* bytes = data ? LockResource(data) : nullptr;
  if (!bytes)
    throw rtl::Exception(rtl::Format("Resource %s not found", resourceName));
  // The resource stays mapped while the program runs: the payload is read where it lies.
  rtl::TReadOnlyMemoryStream stream(bytes, SizeofResource(module, info), true);
  ReadForm(stream);
}

void TForm::ReadForm(rtl::TStream& stream) {
  RegisterControlClasses();
  rtl::TReader reader(stream);
  reader.SetMethods(&FMethods);
  reader.ReadRootComponent(this);
  CreateHandles();
  if (!MainForm)
    MainForm = this;
  try {
    OnCreate(this);
  } catch (const std::exception& e) {
    // The form still opens; only the rest of the handler is skipped.
    if (Application)
      Application->ShowException(e);
  }
}

namespace {

// Looked up at run time: each comes with a later Windows than the program
// runs on (GetDpiForWindow and AdjustWindowRectExForDpi with 10, shcore's
// GetDpiForMonitor with 8.1).
template <typename F> F Proc(const char* library, const char* name) {
  HMODULE module = GetModuleHandleA(library);
  if (!module)
    module = LoadLibraryExA(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

// mingw-w64 declares it for Windows 10 targets only.
constexpr UINT WM_QLX_GETDPISCALEDSIZE = 0x02E4;

using TGetDpiForWindow = UINT(WINAPI*)(HWND);
using TGetDpiForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using TAdjustWindowRectExForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

int32_t ScreenPixelsPerInch() {
  const TWindowDC screen(nullptr);
  const int dpi = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : 96;
}

} // namespace

int32_t WindowPixelsPerInch(HWND wnd) {
  static const auto forWindow = Proc<TGetDpiForWindow>("user32.dll", "GetDpiForWindow");
  if (forWindow && wnd)
    if (const UINT dpi = forWindow(wnd))
      return static_cast<int32_t>(dpi);
  static const auto forMonitor = Proc<TGetDpiForMonitor>("shcore.dll", "GetDpiForMonitor");
  UINT x = 0, y = 0;
  if (forMonitor && wnd &&
      SUCCEEDED(forMonitor(MonitorFromWindow(wnd, MONITOR_DEFAULTTONEAREST), 0, &x, &y)) && y > 0)
    return static_cast<int32_t>(y);
  return ScreenPixelsPerInch();
}

SIZE TForm::WindowSize(int32_t dpi, int32_t frameDpi) const {
  RECT r{0, 0, MulDiv(FClientWidth, dpi, 96), MulDiv(FClientHeight, dpi, 96)};
  const HWND wnd = const_cast<TForm*>(this)->Handle();
  const auto style = static_cast<DWORD>(GetWindowLongA(wnd, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(GetWindowLongA(wnd, GWL_EXSTYLE));
  // The frame of a window on a monitor of another DPI than the system's.
  static const auto forDpi =
      Proc<TAdjustWindowRectExForDpi>("user32.dll", "AdjustWindowRectExForDpi");
  if (!forDpi || !forDpi(&r, style, FALSE, exStyle, static_cast<UINT>(frameDpi)))
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
  return {r.right - r.left, r.bottom - r.top};
}

void TForm::ScaleBounds() {
  if (FClientWidth <= 0 || FClientHeight <= 0 || !HandleAllocated())
    return;
  const SIZE size = WindowSize(PixelsPerInch(), WindowPixelsPerInch(Handle()));
  TControl::SetBounds(Left(), Top(), size.cx, size.cy);
  SetWindowPos(Handle(), nullptr, 0, 0, size.cx, size.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::DpiChanged(int32_t dpi, const RECT& suggested) {
  ScaleForPPI(dpi);
  // The size is ours (the system asked for it first); the place the system's.
  const SIZE size = WindowSize(PixelsPerInch(), WindowPixelsPerInch(Handle()));
  SetWindowPos(Handle(), nullptr, suggested.left, suggested.top, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
  TControl::SetBounds(suggested.left, suggested.top, size.cx, size.cy);
  Invalidate();
}

void TForm::CreateParams(TCreateParams& params) {
  params.Style = WS_POPUP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  params.ExStyle = WS_EX_CONTROLPARENT;
  switch (FBorderStyle) {
  case bsNone:
    break;
  case bsSingle:
    params.Style |= WS_CAPTION | WS_BORDER;
    break;
  case bsDialog:
    params.Style |= WS_CAPTION | DS_MODALFRAME;
    params.ExStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
    break;
  case bsToolWindow:
    params.Style |= WS_CAPTION | WS_BORDER;
    params.ExStyle |= WS_EX_TOOLWINDOW;
    break;
  case bsSizeToolWin:
    params.Style |= WS_CAPTION | WS_THICKFRAME;
    params.ExStyle |= WS_EX_TOOLWINDOW;
    break;
  case bsSizeable:
    params.Style |= WS_CAPTION | WS_THICKFRAME;
    break;
  }
  if (FBorderStyle != bsNone && (FBorderIcons & biSystemMenu)) {
    params.Style |= WS_SYSMENU;
    if (FBorderStyle == bsSingle || FBorderStyle == bsSizeable) {
      if (FBorderIcons & biMinimize)
        params.Style |= WS_MINIMIZEBOX;
      if (FBorderIcons & biMaximize)
        params.Style |= WS_MAXIMIZEBOX;
    }
  }
  params.ParentWindow = Application ? Application->Handle() : nullptr;
  if (FClientWidth > 0 && FClientHeight > 0) {
    RECT r{0, 0, FClientWidth, FClientHeight};
    AdjustWindowRectEx(&r, params.Style, FALSE, params.ExStyle);
    TControl::SetBounds(Left(), Top(), r.right - r.left, r.bottom - r.top);
  }
}

void TForm::SetVisible(bool value) {
  if (value) {
    Show();
    return;
  }
  TControl::SetVisible(false);
  if (HandleAllocated())
    ShowWindow(Handle(), SW_HIDE);
}

void TForm::Show() {
  const HWND wnd = Handle();
  if (!FCentred && FPosition == poScreenCenter) {
    FCentred = true;
    RECT r{};
    GetWindowRect(wnd, &r);
    // A window larger than the screen (the viewer at 200 % on a small
    // display) keeps its caption on it, where it can be grabbed.
    const LONG x = std::max<LONG>(0, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2);
    const LONG y = std::max<LONG>(0, (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2);
    SetWindowPos(wnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  TControl::SetVisible(true);
  if (MainForm == this && Application)
    Application->SetTaskbarButton(true);
  ShowWindow(wnd, SW_SHOW);
  SetForegroundWindow(wnd);
  BringWindowToTop(wnd);
}

void TForm::Close() {
  if (MainForm == this) {
    if (Application)
      Application->Terminate();
    return;
  }
  Hide();
}

void TForm::SetActiveControl(TWinControl* control) {
  FActiveControl = control;
  if (control && HandleAllocated() && GetActiveWindow() == Handle())
    control->SetFocus();
}

namespace {

TButton* FindDefaultButton(const TWinControl* parent) {
  for (TControl* c : parent->Controls()) {
    if (auto* b = dynamic_cast<TButton*>(c)) {
      if (b->Default() && b->CanFocus())
        return b;
    } else if (auto* w = dynamic_cast<TWinControl*>(c)) {
      if (w->HandleAllocated() && IsWindowVisible(w->Handle()))
        if (TButton* found = FindDefaultButton(w))
          return found;
    }
  }
  return nullptr;
}

} // namespace

void TForm::InitWnd() {
  TWinControl::InitWnd();
  SetPropA(Handle(), SFormProperty, reinterpret_cast<HANDLE>(1));
  // Laid out for the monitor it opens on before any child has a window.
  ScaleForPPI(WindowPixelsPerInch(Handle()));
}

TButton* TForm::DefaultButton() {
  if (auto* focused = dynamic_cast<TButton*>(FindControl(GetFocus())))
    return focused;
  return FindDefaultButton(this);
}

namespace {

// Set while the form moves the frame: other style changes of a button are
// brought back to the form's choice.
thread_local bool tSettingFrames = false;

void SetButtonFrames(const TWinControl* parent, const TButton* framed) {
  for (TControl* c : parent->Controls()) {
    if (auto* b = dynamic_cast<TButton*>(c)) {
      if (!b->HandleAllocated())
        continue;
      const HWND wnd = const_cast<TButton*>(b)->Handle();
      const bool isDefault = (GetWindowLongA(wnd, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
      if (isDefault != (b == framed))
        SendMessageA(wnd, BM_SETSTYLE, b == framed ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    } else if (auto* w = dynamic_cast<TWinControl*>(c)) {
      SetButtonFrames(w, framed);
    }
  }
}

} // namespace

void TForm::NoteFocus(TWinControl* control) {
  FActiveControl = control;
  FFramed = dynamic_cast<TButton*>(control);
  if (!FFramed)
    FFramed = FindDefaultButton(this);
  const bool outer = tSettingFrames;
  tSettingFrames = true;
  SetButtonFrames(this, FFramed);
  tSettingFrames = outer;
}

bool SettingButtonFrames() {
  return tSettingFrames;
}

bool TForm::DialogCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  TWinControl* control = lParam ? FindControl(reinterpret_cast<HWND>(lParam)) : FindControlById(id);
  // Only a control the user can see and reach; Escape's IDCANCEL and the IDOK
  // of an Enter without a default name none.
  if (!control || !control->CanFocus() || GetDlgCtrlID(control->Handle()) != id)
    return !lParam; // nothing else to do for a command without a window
  const HWND parent = GetParent(control->Handle());
  if (parent == Handle())
    return false; // the form's own child: reflected as every click is
  SendMessageA(parent, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control->Handle()));
  return true;
}

void TForm::MoveFocus(WPARAM wParam, LPARAM lParam) {
  HWND next = lParam ? reinterpret_cast<HWND>(wParam)
                     : GetNextDlgTabItem(Handle(), GetFocus(), wParam != 0);
  if (next && IsChild(Handle(), next))
    ::SetFocus(next);
}

LRESULT TForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_CLOSE:
    Close();
    return 0;
  case WM_COMMAND:
    // The dialog manager reports Enter to the form, not to the page.
    if (DialogCommand(wParam, lParam))
      return 0;
    break;
  case DM_GETDEFID:
    if (TButton* button = DefaultButton(); button && button->HandleAllocated())
      return MAKELRESULT(GetDlgCtrlID(button->Handle()), DC_HASDEFID);
    return 0;
  case DM_SETDEFID:
    return TRUE; // the default button is the page's, not the dialog manager's
  case WM_NEXTDLGCTL:
    MoveFocus(wParam, lParam);
    return 0;
  case WM_QLX_GETDPISCALEDSIZE:
    if (auto* size = reinterpret_cast<SIZE*>(lParam)) {
      // Asked before the move: the frame will be the new DPI's too.
      *size = WindowSize(LOWORD(wParam), LOWORD(wParam));
      return TRUE;
    }
    break;
  case WM_DPICHANGED:
    if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
      DpiChanged(HIWORD(wParam), *suggested);
      return 0;
    }
    break;
  case WM_ACTIVATE:
    if (LOWORD(wParam) != WA_INACTIVE) {
      TWinControl* target =
          FActiveControl && FActiveControl->CanFocus() ? FActiveControl : FirstTabStop();
      if (target)
        target->SetFocus();
      return 0;
    }
    break;
  default:
    break;
  }
  return TWinControl::WndProc(message, wParam, lParam);
}

} // namespace ui
