#include "Controls.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include <commctrl.h>

#include "Accessible.h"
#include "Application.h"
#include "Forms.h"
#include "SystemLibrary.h"

namespace ui {

HCURSOR CursorHandle(TCursor cursor) {
  switch (cursor) {
  case crHandPoint:
    return LoadCursorA(nullptr, IDC_HAND);
  case crIBeam:
    return LoadCursorA(nullptr, IDC_IBEAM);
  default:
    return LoadCursorA(nullptr, IDC_ARROW);
  }
}

namespace {

// The common controls are loaded at run time, not imported: the import table
// names only DLLs that Windows always takes from System32. Version 6, which
// the manifest asks for, is a side-by-side assembly outside System32.
struct TCommonControls {
  using TSetSubclass = BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR);
  using TRemoveSubclass = BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR);
  using TDefSubclass = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
  using TInit = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  TSetSubclass SetSubclass = nullptr;
  TRemoveSubclass RemoveSubclass = nullptr;
  TDefSubclass DefSubclass = nullptr;

  TCommonControls() {
    const HMODULE library = LoadAssemblyLibrary("comctl32.dll");
    if (!library)
      throw rtl::EOSError(rtl::SysErrorMessage(GetLastError()));
    SetSubclass = reinterpret_cast<TSetSubclass>(
        reinterpret_cast<void*>(GetProcAddress(library, "SetWindowSubclass")));
    RemoveSubclass = reinterpret_cast<TRemoveSubclass>(
        reinterpret_cast<void*>(GetProcAddress(library, "RemoveWindowSubclass")));
    DefSubclass = reinterpret_cast<TDefSubclass>(
        reinterpret_cast<void*>(GetProcAddress(library, "DefSubclassProc")));
    if (auto init = reinterpret_cast<TInit>(
            reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")))) {
      const INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
      init(&icc);
    }
    if (!SetSubclass || !RemoveSubclass || !DefSubclass)
      throw rtl::EOSError("comctl32.dll has no window subclassing");
  }
};

const TCommonControls& CommonControls() {
  static const TCommonControls controls;
  return controls;
}

} // namespace

// --- TControl ---

TControl::TControl(rtl::TComponent* owner) : rtl::TComponent(owner) {
  FFont.OnChange = [this] {
    if (!FFontFromParent)
      FParentFont = false;
    FontChanged();
  };
  FParentColor = true;
}

TControl::~TControl() {
  FFont.OnChange = nullptr;
  if (FParent)
    FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* parent) {
  if (FParent == parent)
    return;
  if (FParent)
    FParent->RemoveControl(this);
  if (parent)
    parent->InsertControl(this);
  ParentFontChanged();
  ParentColorChanged();
  if (parent)
    ScaleForPPI(parent->PixelsPerInch());
}

void TControl::ScaleForPPI(int32_t dpi) {
  if (dpi <= 0 || dpi == FPixelsPerInch)
    return;
  ChangeScale(dpi);
  ScaleFonts();
}

void TControl::ChangeScale(int32_t dpi) {
  FPixelsPerInch = dpi;
  ScaleBounds();
}

void TControl::ScaleBounds() {
  FKeepDesign = true;
  SetBounds(Scaled(FDesignLeft), Scaled(FDesignTop), Scaled(FDesignWidth), Scaled(FDesignHeight));
  FKeepDesign = false;
}

void TControl::ScaleFonts() {
  // Not a change of the font the form gave: ParentFont stays as it is.
  const bool fromParent = std::exchange(FFontFromParent, true);
  FFont.SetPixelsPerInch(FPixelsPerInch);
  FFontFromParent = fromParent;
  AdjustSize();
}

void TControl::SetParentComponent(rtl::TComponent* parent) {
  SetParent(dynamic_cast<TWinControl*>(parent));
}

TForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c->FParent)
    c = c->FParent;
  return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

void TControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (!FKeepDesign) {
    const auto design = [this](int32_t v) {
      return FPixelsPerInch == 96 ? v : MulDiv(v, 96, FPixelsPerInch);
    };
    FDesignLeft = design(left);
    FDesignTop = design(top);
    FDesignWidth = design(width);
    FDesignHeight = design(height);
  }
  if (left == FLeft && top == FTop && width == FWidth && height == FHeight)
    return;
  Invalidate();
  FLeft = left;
  FTop = top;
  FWidth = width;
  FHeight = height;
  Invalidate();
}

void TControl::SetVisible(bool value) {
  if (FVisible == value)
    return;
  Invalidate();
  FVisible = value;
  Invalidate();
}

void TControl::SetEnabled(bool value) {
  if (FEnabled == value)
    return;
  FEnabled = value;
  Invalidate();
}

void TControl::SetCaption(const std::string& value) {
  if (FCaption == value)
    return;
  FCaption = value;
  TextChanged();
  AdjustSize();
}

void TControl::SetParentFont(bool value) {
  FParentFont = value;
  if (value)
    ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (!FParentFont || !FParent)
    return;
  FFontFromParent = true;
  FFont.Assign(FParent->Font());
  FFontFromParent = false;
}

void TControl::SetColor(TColor value) {
  FParentColor = false;
  FColor = value;
  Invalidate();
}

void TControl::SetParentColor(bool value) {
  FParentColor = value;
  if (value)
    ParentColorChanged();
}

void TControl::ParentColorChanged() {
  if (!FParentColor || !FParent)
    return;
  FColor = FParent->Color();
  Invalidate();
}

LRESULT TControl::Perform(UINT message, WPARAM, LPARAM) {
  switch (message) {
  case CM_MOUSEENTER:
    CMMouseEnter();
    break;
  case CM_MOUSELEAVE:
    CMMouseLeave();
    break;
  default:
    break;
  }
  return 0;
}

void TControl::CMMouseEnter() {
  OnMouseEnter(this);
}

void TControl::CMMouseLeave() {
  OnMouseLeave(this);
}

void TControl::Click() {
  OnClick(this);
}

void TControl::Invalidate() {
  if (FParent && FParent->HandleAllocated()) {
    const RECT r = BoundsRect();
    InvalidateRect(FParent->Handle(), &r, FALSE);
  }
}

void TControl::Repaint() {
  if (FParent)
    FParent->RepaintControl(this);
}

void TControl::BringToFront() {
  TWinControl* parent = FParent;
  if (!parent)
    return;
  parent->RemoveControl(this);
  parent->InsertControl(this);
  Invalidate();
}

std::string TControl::AccessibleName() const {
  return FAccessibleName.empty() ? Caption() : FAccessibleName;
}

void TControl::Loaded() {
  TComponent::Loaded();
  AdjustSize();
}

// --- TWinControl ---

namespace {

// Our own window classes, one per kind, registered on first use.
void RegisterOwnClass(const std::string& name, WNDPROC proc) {
  WNDCLASSA cls{};
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  if (GetClassInfoA(instance, name.c_str(), &cls))
    return;
  cls.lpfnWndProc = proc;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  cls.lpszClassName = name.c_str();
  if (!RegisterClassA(&cls))
    throw rtl::EOSError(rtl::SysErrorMessage(GetLastError()));
}

void ShowException(const std::exception& e) {
  if (Application)
    Application->ShowException(e);
}

POINT PointOf(LPARAM lParam) {
  return {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

// Child windows get identifiers of their own, so the dialog manager can name
// the default button and report clicks; none is IDOK or IDCANCEL, so Escape
// and an Enter without a default reach no control.
HMENU NewControlId(DWORD style) {
  static UINT_PTR next = 100;
  if (!(style & WS_CHILD))
    return nullptr;
  if (next > 0xFFFF)
    next = 100;
  return reinterpret_cast<HMENU>(next++);
}

void SetStyleBit(HWND wnd, DWORD bit, bool on) {
  const DWORD style = static_cast<DWORD>(GetWindowLongA(wnd, GWL_STYLE));
  const DWORD wanted = on ? style | bit : style & ~bit;
  if (wanted != style)
    SetWindowLongA(wnd, GWL_STYLE, static_cast<LONG>(wanted));
}

bool Contains(const RECT& outer, const RECT& inner) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

} // namespace

TWinControl::TWinControl(rtl::TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  for (TControl* c : FControls)
    c->FParent = nullptr;
  FControls.clear();
  DestroyHandle();
  if (FBrush)
    DeleteObject(FBrush);
}

HWND TWinControl::Handle() {
  if (!FHandle)
    CreateWnd();
  return FHandle;
}

void TWinControl::CreateParams(TCreateParams& params) {
  params.Style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  if (Visible() && !FCovered)
    params.Style |= WS_VISIBLE;
  if (!Enabled())
    params.Style |= WS_DISABLED;
  if (FTabStop)
    params.Style |= WS_TABSTOP;
  if (FParent)
    params.ParentWindow = FParent->Handle();
}

void TWinControl::CreateWnd() {
  TCreateParams params;
  CreateParams(params);
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  if (params.WindowClass.empty()) {
    const std::string cls = std::string("Qlx") + ClassName();
    RegisterOwnClass(cls, StaticWndProc);
    CreateWindowExA(params.ExStyle, cls.c_str(), FCaption.c_str(), params.Style, Left(), Top(),
                    Width(), Height(), params.ParentWindow, NewControlId(params.Style), instance,
                    this);
  } else {
    CommonControls();
    const HWND wnd = CreateWindowExA(
        params.ExStyle, params.WindowClass.c_str(), FCaption.c_str(), params.Style, Left(), Top(),
        Width(), Height(), params.ParentWindow, NewControlId(params.Style), instance, nullptr);
    if (wnd &&
        CommonControls().SetSubclass(wnd, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this))) {
      FHandle = wnd;
      FSubclassed = true;
    } else if (wnd) {
      DestroyWindow(wnd);
    }
  }
  if (!FHandle)
    throw rtl::EOSError(rtl::SysErrorMessage(GetLastError()));
  SendMessageA(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(Font()->Handle()), FALSE);
  InitWnd();
}

void TWinControl::InitWnd() {}

void TWinControl::CreateHandles() {
  Handle();
  CreateChildHandles();
}

std::vector<TWinControl*> TWinControl::TabOrderedChildren() const {
  std::vector<TWinControl*> windowed;
  for (TControl* c : FControls)
    if (auto* w = dynamic_cast<TWinControl*>(c))
      windowed.push_back(w);
  std::stable_sort(windowed.begin(), windowed.end(),
                   [](TWinControl* a, TWinControl* b) { return a->FTabOrder < b->FTabOrder; });
  return windowed;
}

void TWinControl::CreateChildHandles() {
  FChildHandlesPending = false;
  const std::vector<TWinControl*> windowed = TabOrderedChildren();
  // Tab order is the windows' order from the top, so the first stop goes on
  // top; a group (of radio buttons) starts wherever the previous control's
  // group does not go on.
  const TWinControl* previous = nullptr;
  for (TWinControl* w : windowed) {
    w->Handle();
    SetWindowPos(w->FHandle, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetStyleBit(w->FHandle, WS_GROUP, !w->JoinsGroupOf(previous));
    previous = w;
  }
  UpdateCovered();
  for (TWinControl* w : windowed) {
    if (w->FCovered)
      w->FChildHandlesPending = true;
    else
      w->CreateChildHandles();
  }
}

void TWinControl::DestroyHandle() {
  if (!FHandle)
    return;
  const HWND wnd = FHandle;
  DestroyWindow(wnd); // WM_NCDESTROY unbinds
  FHandle = nullptr;
}

void TWinControl::ChangeScale(int32_t dpi) {
  TControl::ChangeScale(dpi);
  for (TControl* c : FControls)
    c->ChangeScale(dpi);
}

void TWinControl::ScaleFonts() {
  TControl::ScaleFonts();
  for (TControl* c : FControls)
    c->ScaleFonts();
}

void TWinControl::InsertControl(TControl* control) {
  FControls.push_back(control);
  control->FParent = this;
}

void TWinControl::RemoveControl(TControl* control) {
  if (FMouseControl == control)
    FMouseControl = nullptr;
  if (FCaptureControl == control)
    FCaptureControl = nullptr;
  std::erase(FControls, control);
  control->FParent = nullptr;
}

bool TWinControl::CanFocus() const {
  return FHandle && IsWindowVisible(FHandle) && IsWindowEnabled(FHandle);
}

void TWinControl::SetFocus() {
  if (HandleAllocated())
    ::SetFocus(FHandle);
}

TWinControl* TWinControl::FirstTabStop() {
  for (TWinControl* w : TabOrderedChildren()) {
    if (!w->CanFocus())
      continue;
    // The window's own style: a radio group is one stop, at its selected button.
    if (GetWindowLongA(w->FHandle, GWL_STYLE) & WS_TABSTOP)
      return w;
    if (TWinControl* inner = w->FirstTabStop())
      return inner;
  }
  return nullptr;
}

TWinControl* TWinControl::FindControl(HWND wnd) {
  if (!wnd)
    return nullptr;
  for (TControl* c : FControls)
    if (auto* w = dynamic_cast<TWinControl*>(c)) {
      if (w->FHandle == wnd)
        return w;
      if (TWinControl* inner = w->FindControl(wnd))
        return inner;
    }
  return nullptr;
}

TWinControl* TWinControl::FindControlById(int id) {
  for (TControl* c : FControls)
    if (auto* w = dynamic_cast<TWinControl*>(c)) {
      if (w->FHandle && GetDlgCtrlID(w->FHandle) == id)
        return w;
      if (TWinControl* inner = w->FindControlById(id))
        return inner;
    }
  return nullptr;
}

void TWinControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  TControl::SetBounds(left, top, width, height);
  if (FHandle)
    MoveWindow(FHandle, Left(), Top(), Width(), Height(), TRUE);
}

void TWinControl::SetVisible(bool value) {
  TControl::SetVisible(value);
  if (FHandle)
    ShowWindow(FHandle, value && !FCovered ? SW_SHOWNA : SW_HIDE);
}

void TWinControl::SetEnabled(bool value) {
  TControl::SetEnabled(value);
  if (FHandle)
    EnableWindow(FHandle, value);
}

std::string TWinControl::Caption() const {
  if (!FHandle)
    return FCaption;
  const int length = GetWindowTextLengthA(FHandle);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(FHandle, text.data(), length + 1)));
  return text;
}

void TWinControl::SetCaption(const std::string& value) {
  if (Caption() == value)
    return;
  FCaption = value;
  if (FHandle)
    SetWindowTextA(FHandle, value.c_str());
  else
    TextChanged();
}

void TWinControl::Invalidate() {
  if (FHandle)
    InvalidateRect(FHandle, nullptr, TRUE);
}

void TWinControl::Repaint() {
  if (FHandle) {
    InvalidateRect(FHandle, nullptr, TRUE);
    UpdateWindow(FHandle);
  }
}

void TWinControl::BringToFront() {
  TControl::BringToFront();
  if (!FHandle)
    return;
  SetWindowPos(FHandle, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (FParent)
    FParent->UpdateCovered();
  // The raised control takes the focus, so keys never reach a covered one.
  if (TForm* form = ParentForm())
    if (TWinControl* first = FirstTabStop())
      form->SetActiveControl(first);
}

void TWinControl::UpdateCovered() {
  if (!FHandle)
    return;
  std::vector<RECT> above;
  for (HWND w = GetWindow(FHandle, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
    TWinControl* child = nullptr;
    for (TControl* c : FControls)
      if (auto* wc = dynamic_cast<TWinControl*>(c); wc && wc->FHandle == w)
        child = wc;
    if (!child || !child->Visible())
      continue;
    const RECT r = child->BoundsRect();
    const bool covered =
        std::any_of(above.begin(), above.end(), [&](const RECT& a) { return Contains(a, r); });
    child->SetCovered(covered);
    if (!covered)
      above.push_back(r);
  }
}

void TWinControl::SetCovered(bool covered) {
  FCovered = covered;
  if (!covered && FChildHandlesPending && FHandle)
    CreateChildHandles();
  if (FHandle)
    ShowWindow(FHandle, Visible() && !covered ? SW_SHOWNA : SW_HIDE);
}

void TWinControl::FontChanged() {
  if (FHandle) {
    SendMessageA(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(Font()->Handle()), TRUE);
    InvalidateRect(FHandle, nullptr, TRUE);
  }
  for (TControl* c : FControls)
    c->ParentFontChanged();
}

void TWinControl::ParentColorChanged() {
  TControl::ParentColorChanged();
  for (TControl* c : FControls)
    c->ParentColorChanged();
}

void TWinControl::SetColor(TColor value) {
  TControl::SetColor(value);
  for (TControl* c : FControls)
    c->ParentColorChanged();
}

TControl* TWinControl::ControlAtPos(POINT point) const {
  for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
    TControl* c = *it;
    if (c->IsWindowed() || !c->Visible())
      continue;
    const RECT r = c->BoundsRect();
    if (PtInRect(&r, point))
      return c;
  }
  return nullptr;
}

std::vector<TControl*> TWinControl::AccessibleChildren() const {
  std::vector<TControl*> children;
  for (TControl* c : FControls)
    if (!c->IsWindowed() && c->Visible() && c->AccessibleRole() != 0)
      children.push_back(c);
  return children;
}

TWinControl* TWinControl::FromHandle(HWND wnd) {
  char name[8] = {};
  if (!wnd || !IsWindow(wnd) || GetClassNameA(wnd, name, sizeof name) < 3 ||
      std::string_view(name, 3) != "Qlx")
    return nullptr;
  return reinterpret_cast<TWinControl*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
}

void TWinControl::RepaintControl(TControl* control) {
  if (!FHandle)
    return;
  const RECT r = control->BoundsRect();
  InvalidateRect(FHandle, &r, FALSE);
  UpdateWindow(FHandle);
}

void TWinControl::PaintControls(HDC dc, const RECT& update) {
  {
    const TGdiHandle background(CreateSolidBrush(ColorToRGB(Color())));
    const RECT client = ClientRect();
    FillRect(dc, &client, static_cast<HBRUSH>(background.get()));
  }
  for (TControl* c : FControls) {
    RECT r = c->BoundsRect();
    RECT common{};
    if (c->IsWindowed() || !c->Visible() || !IntersectRect(&common, &r, &update))
      continue;
    const TSavedDC saved(dc);
    SetViewportOrgEx(dc, r.left, r.top, nullptr);
    IntersectClipRect(dc, 0, 0, c->Width(), c->Height());
    TCanvas canvas(dc);
    c->Paint(canvas);
  }
}

void TWinControl::PaintWindow(HDC dc) {
  RECT update{};
  GetClipBox(dc, &update);
  PaintControls(dc, update);
}

LRESULT TWinControl::CtlColor(HDC dc) {
  const COLORREF color = ColorToRGB(Color());
  if (!FBrush || FBrushColor != color) {
    if (FBrush)
      DeleteObject(FBrush);
    FBrush = CreateSolidBrush(color);
    FBrushColor = color;
  }
  SetBkColor(dc, color);
  SetTextColor(dc, ColorToRGB(Font()->Color()));
  return reinterpret_cast<LRESULT>(FBrush);
}

void TWinControl::MouseMove(POINT point) {
  TControl* c = ControlAtPos(point);
  if (c != FMouseControl) {
    TControl* old = FMouseControl;
    FMouseControl = c;
    if (old)
      old->Perform(CM_MOUSELEAVE);
    if (c)
      c->Perform(CM_MOUSEENTER);
  }
  if (!FTracking) {
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, FHandle, 0};
    FTracking = TrackMouseEvent(&track) != FALSE;
  }
}

void TWinControl::MouseLeave() {
  FTracking = false;
  if (TControl* old = std::exchange(FMouseControl, nullptr))
    old->Perform(CM_MOUSELEAVE);
}

LRESULT TWinControl::DialogCode(WPARAM wParam, LPARAM lParam) {
  LRESULT code = DefaultHandler(WM_GETDLGCODE, wParam, lParam);
  // Tab, Escape and (unless wanted) Enter belong to the dialog manager, even
  // for a multi-line edit that asks for every key.
  if (!WantsKey(VK_TAB))
    code &= ~static_cast<LRESULT>(DLGC_WANTTAB);
  const auto* msg = reinterpret_cast<const MSG*>(lParam);
  if (msg && (msg->message == WM_KEYDOWN || msg->message == WM_CHAR)) {
    const WPARAM key = msg->message == WM_CHAR ? (msg->wParam == '\t'   ? VK_TAB
                                                  : msg->wParam == '\r' ? VK_RETURN
                                                  : msg->wParam == 27   ? VK_ESCAPE
                                                                        : 0)
                                               : msg->wParam;
    if ((key == VK_TAB || key == VK_ESCAPE || key == VK_RETURN) && !WantsKey(key))
      code &= ~static_cast<LRESULT>(DLGC_WANTMESSAGE | DLGC_WANTALLKEYS);
  }
  return code;
}

LRESULT TWinControl::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_COMMAND:
    if (lParam)
      for (TControl* c : FControls)
        if (auto* w = dynamic_cast<TWinControl*>(c);
            w && w->FHandle == reinterpret_cast<HWND>(lParam)) {
          if (w->CommandNotify(HIWORD(wParam)))
            return 0;
          break;
        }
    break;
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN:
  case WM_CTLCOLOREDIT:
    for (TControl* c : FControls)
      if (auto* w = dynamic_cast<TWinControl*>(c);
          w && w->FHandle == reinterpret_cast<HWND>(lParam))
        return w->CtlColor(reinterpret_cast<HDC>(wParam));
    break;
  case WM_GETDLGCODE:
    if (FSubclassed)
      return DialogCode(wParam, lParam);
    break;
  case WM_SETFOCUS:
    if (FSubclassed)
      if (TForm* form = ParentForm())
        form->NoteFocus(this);
    break;
  case WM_CLOSE:
    // Only a form closes; a child asked by its edit control (Escape in a
    // multi-line edit) stays.
    if (!dynamic_cast<TForm*>(this))
      return 0;
    break;
  case WM_NEXTDLGCTL:
    if (!dynamic_cast<TForm*>(this)) {
      if (TForm* form = ParentForm())
        return SendMessageA(form->Handle(), message, wParam, lParam);
      return 0;
    }
    break;
  default:
    break;
  }
  if (FSubclassed)
    return DefaultHandler(message, wParam, lParam);

  // Our own windows: painting and the windowless children.
  switch (message) {
  case WM_ERASEBKGND:
    return 1;
  case WM_PAINT: {
    // A paint that fails still ends here, before the error box shows.
    const TPaintDC paint(FHandle);
    const RECT& r = paint.Rect();
    RECT client{};
    GetClientRect(FHandle, &client);
    // Painted off screen first, so overlapping children never flicker.
    const TMemoryDC memory(paint.Get());
    const TGdiHandle bitmap(CreateCompatibleBitmap(paint.Get(), client.right, client.bottom));
    if (!memory.Get() || !bitmap)
      return 0;
    const TSelection selected(memory.Get(), bitmap.get());
    IntersectClipRect(memory.Get(), r.left, r.top, r.right, r.bottom);
    PaintWindow(memory.Get());
    BitBlt(paint.Get(), r.left, r.top, r.right - r.left, r.bottom - r.top, memory.Get(), r.left,
           r.top, SRCCOPY);
    return 0;
  }
  case WM_MOUSEMOVE:
    MouseMove(PointOf(lParam));
    break;
  case WM_MOUSELEAVE:
    MouseLeave();
    return 0;
  case WM_LBUTTONDOWN: {
    TControl* c = ControlAtPos(PointOf(lParam));
    if (c && c->Enabled()) {
      FCaptureControl = c;
      SetCapture(FHandle);
    }
    return 0;
  }
  case WM_LBUTTONUP: {
    TControl* pressed = std::exchange(FCaptureControl, nullptr);
    if (GetCapture() == FHandle)
      ReleaseCapture();
    if (pressed && pressed == ControlAtPos(PointOf(lParam)))
      pressed->Click();
    return 0;
  }
  case WM_GETOBJECT:
    if (const LRESULT answer = AccessibleObjectResult(*this, wParam, lParam))
      return answer;
    break;
  case CM_ACCESSIBLEACTION: {
    const std::vector<TControl*> children = AccessibleChildren();
    if (wParam >= 1 && wParam <= children.size()) {
      TControl* c = children[wParam - 1];
      if (c->Enabled() && !c->AccessibleAction().empty())
        c->Click();
    }
    return 0;
  }
  case WM_SETCURSOR:
    if (LOWORD(lParam) == HTCLIENT && reinterpret_cast<HWND>(wParam) == FHandle) {
      POINT p{};
      GetCursorPos(&p);
      ScreenToClient(FHandle, &p);
      TControl* c = ControlAtPos(p);
      const TCursor cursor = c ? c->Cursor() : Cursor();
      if (cursor != crDefault) {
        ::SetCursor(CursorHandle(cursor));
        return TRUE;
      }
    }
    break;
  default:
    break;
  }
  return DefaultHandler(message, wParam, lParam);
}

LRESULT TWinControl::DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam) {
  if (FSubclassed)
    return CommonControls().DefSubclass(FHandle, message, wParam, lParam);
  return DefWindowProcA(FHandle, message, wParam, lParam);
}

LRESULT TWinControl::SafeWndProc(UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    return WndProc(message, wParam, lParam);
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowException(rtl::Exception("Unknown error"));
  }
  return 0;
}

LRESULT CALLBACK TWinControl::StaticWndProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
  TWinControl* self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<TWinControl*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->FHandle = wnd;
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<TWinControl*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
  }
  if (!self)
    return DefWindowProcA(wnd, message, wParam, lParam);
  const LRESULT result = self->SafeWndProc(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
    self->FHandle = nullptr;
  }
  return result;
}

LRESULT CALLBACK TWinControl::SubclassProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR id, DWORD_PTR data) {
  auto* self = reinterpret_cast<TWinControl*>(data);
  if (message == WM_NCDESTROY) {
    CommonControls().RemoveSubclass(wnd, SubclassProc, id);
    self->FHandle = nullptr;
    self->FSubclassed = false;
    return CommonControls().DefSubclass(wnd, message, wParam, lParam);
  }
  return self->SafeWndProc(message, wParam, lParam);
}

} // namespace ui
