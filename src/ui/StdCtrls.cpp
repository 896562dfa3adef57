#include "StdCtrls.h"

#include "Forms.h"

#include <oleacc.h>

#include <algorithm>
#include <vector>

namespace ui {

// --- TCustomLabel ---

TCustomLabel::TCustomLabel(rtl::TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 65, 17);
}

void TCustomLabel::SetAlignment(TAlignment value) {
  FAlignment = value;
  Invalidate();
}

void TCustomLabel::SetAutoSize(bool value) {
  FAutoSize = value;
  AdjustBounds();
}

void TCustomLabel::SetLayout(TTextLayout value) {
  FLayout = value;
  Invalidate();
}

void TCustomLabel::SetWordWrap(bool value) {
  FWordWrap = value;
  AdjustBounds();
  Invalidate();
}

void TCustomLabel::SetTransparent(bool value) {
  FTransparent = value;
  Invalidate();
}

void TCustomLabel::SetShowAccelChar(bool value) {
  FShowAccelChar = value;
  AdjustBounds();
  Invalidate();
}

void TCustomLabel::FontChanged() {
  AdjustBounds();
  Invalidate();
}

UINT TCustomLabel::TextFlags() const {
  UINT flags = DT_EXPANDTABS;
  if (FAlignment == taRightJustify)
    flags |= DT_RIGHT;
  else if (FAlignment == taCenter)
    flags |= DT_CENTER;
  if (FWordWrap)
    flags |= DT_WORDBREAK;
  return flags;
}

void TCustomLabel::DrawLabelText(TCanvas& canvas, RECT& rect, UINT flags) {
  std::string text = Caption();
  if ((flags & DT_CALCRECT) && (text.empty() || (FShowAccelChar && text == "&")))
    text += ' ';
  if (!FShowAccelChar)
    flags |= DT_NOPREFIX;
  canvas.Font().Assign(Font());
  if (!Enabled()) {
    // The emboss is one pixel at 96 DPI.
    const int e = Scaled(1);
    OffsetRect(&rect, e, e);
    canvas.Font().SetColor(clBtnHighlight);
    canvas.DrawText(text, rect, flags);
    OffsetRect(&rect, -e, -e);
    canvas.Font().SetColor(clBtnShadow);
    canvas.DrawText(text, rect, flags);
  } else {
    canvas.DrawText(text, rect, flags);
  }
}

void TCustomLabel::Paint(TCanvas& canvas) {
  RECT rect = ClientRect();
  if (!FTransparent) {
    canvas.Brush().SetColor(Color());
    canvas.Brush().SetStyle(bsSolid);
    canvas.FillRect(rect);
  }
  const UINT flags = TextFlags();
  if (FLayout != tlTop) {
    RECT measured = rect;
    DrawLabelText(canvas, measured, flags | DT_CALCRECT);
    const int room = Height() - measured.bottom;
    OffsetRect(&rect, 0, FLayout == tlBottom ? room : room / 2);
  }
  DrawLabelText(canvas, rect, flags);
}

int32_t TCustomLabel::AccessibleRole() const {
  return ROLE_SYSTEM_STATICTEXT;
}

void TCustomLabel::AdjustBounds() {
  if (!FAutoSize || IsLoading())
    return;
  RECT rect = ClientRect();
  {
    const TWindowDC screen(nullptr);
    TCanvas canvas(screen.Get());
    DrawLabelText(canvas, rect, (TextFlags() & ~(DT_RIGHT | DT_CENTER)) | DT_CALCRECT);
  }
  int32_t left = Left();
  if (FAlignment == taRightJustify)
    left += Width() - rect.right;
  SetBounds(left, Top(), rect.right, rect.bottom);
}

// --- Buttons ---

TButtonControl::TButtonControl(rtl::TComponent* owner) : TWinControl(owner) {
  SetTabStop(true);
}

bool TButtonControl::CommandNotify(WORD code) {
  if (code != BN_CLICKED)
    return false;
  Clicked();
  return true;
}

TButton::TButton(rtl::TComponent* owner) : TButtonControl(owner) {
  SetBounds(0, 0, 75, 25);
}

void TButton::SetDefault(bool value) {
  FDefault = value;
  if (!HandleAllocated())
    return;
  if (TForm* form = ParentForm())
    form->UpdateFrames();
  else
    SendMessageA(Handle(), BM_SETSTYLE, value ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

LRESULT TButton::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // The frame is the form's to give: the dialog manager's own moves of it
  // (which know nothing of pages) are brought back to that.
  if (message == BM_SETSTYLE && !SettingButtonFrames())
    if (TForm* form = ParentForm(); form && form->FramedButton()) {
      const bool framed = form->FramedButton() == this;
      wParam = (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) |
               (framed ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    }
  return TButtonControl::WndProc(message, wParam, lParam);
}

void TButton::CreateParams(TCreateParams& params) {
  TButtonControl::CreateParams(params);
  params.WindowClass = "BUTTON";
  params.Style |= FDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
}

TCheckBox::TCheckBox(rtl::TComponent* owner) : TButtonControl(owner) {
  SetBounds(0, 0, 97, 17);
}

bool TCheckBox::Checked() const {
  return FChecked;
}

void TCheckBox::SetChecked(bool value) {
  if (FChecked == value)
    return;
  FChecked = value;
  if (HandleAllocated())
    SendMessageA(Handle(), BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
  if (!IsLoading())
    Click();
}

void TCheckBox::CreateParams(TCreateParams& params) {
  TButtonControl::CreateParams(params);
  params.WindowClass = "BUTTON";
  // The system toggles nothing itself: the state is ours, so a program's
  // change and the user's click take the same road.
  params.Style |= BS_CHECKBOX;
}

void TCheckBox::InitWnd() {
  SendMessageA(Handle(), BM_SETCHECK, FChecked ? BST_CHECKED : BST_UNCHECKED, 0);
}

TRadioButton::TRadioButton(rtl::TComponent* owner) : TButtonControl(owner) {
  SetBounds(0, 0, 113, 17);
}

void TRadioButton::SetChecked(bool value) {
  if (FChecked == value)
    return;
  FChecked = value;
  if (HandleAllocated())
    SendMessageA(Handle(), BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
  UpdateGroupTabStops();
  if (!value)
    return;
  if (Parent())
    for (TControl* c : Parent()->Controls())
      if (auto* other = dynamic_cast<TRadioButton*>(c); other && other != this)
        other->SetChecked(false);
  if (!IsLoading())
    Click();
}

void TRadioButton::Clicked() {
  SetChecked(true);
}

LRESULT TRadioButton::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT result = TButtonControl::WndProc(message, wParam, lParam);
  // Moving onto a radio button with the keyboard selects it, as in dialogs;
  // a mouse press selects it on its own when released.
  if (message == WM_SETFOCUS && !FChecked && GetKeyState(VK_LBUTTON) >= 0)
    SetChecked(true);
  return result;
}

void TRadioButton::CreateParams(TCreateParams& params) {
  TButtonControl::CreateParams(params);
  params.WindowClass = "BUTTON";
  params.Style |= BS_RADIOBUTTON;
}

void TRadioButton::InitWnd() {
  SendMessageA(Handle(), BM_SETCHECK, FChecked ? BST_CHECKED : BST_UNCHECKED, 0);
  UpdateGroupTabStops();
}

bool TRadioButton::JoinsGroupOf(const TWinControl* previous) const {
  return dynamic_cast<const TRadioButton*>(previous) != nullptr;
}

void TRadioButton::UpdateGroupTabStops() {
  if (!Parent())
    return;
  std::vector<TRadioButton*> group;
  for (TControl* c : Parent()->Controls())
    if (auto* radio = dynamic_cast<TRadioButton*>(c))
      group.push_back(radio);
  const bool anyChecked =
      std::any_of(group.begin(), group.end(), [](TRadioButton* r) { return r->FChecked; });
  for (TRadioButton* radio : group) {
    if (!radio->HandleAllocated())
      continue;
    const HWND wnd = radio->Handle();
    const LONG style = GetWindowLongA(wnd, GWL_STYLE);
    const bool stop = radio->FChecked || !anyChecked;
    SetWindowLongA(wnd, GWL_STYLE, stop ? style | WS_TABSTOP : style & ~WS_TABSTOP);
  }
}

// --- TEdit ---

TEdit::TEdit(rtl::TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 121, 21);
  SetTabStop(true);
  SetColor(clWindow);
}

void TEdit::CreateParams(TCreateParams& params) {
  TWinControl::CreateParams(params);
  params.WindowClass = "EDIT";
  params.Style |= ES_AUTOHSCROLL;
  params.Style &= ~static_cast<DWORD>(WS_CLIPCHILDREN);
  params.ExStyle |= WS_EX_CLIENTEDGE;
}

bool TEdit::CommandNotify(WORD code) {
  if (code != EN_CHANGE)
    return false;
  Change();
  return true;
}

void TEdit::TextChanged() {
  // Text set before the window exists: the window reports later ones.
  if (!IsLoading())
    Change();
}

void TEdit::Change() {
  OnChange(this);
}

} // namespace ui
