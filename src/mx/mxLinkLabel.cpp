#include "mxLinkLabel.h"

#include <oleacc.h>
#include <shellapi.h>

#include "rtl/Filer.h"
#include "ui/Application.h"

namespace mx {

TmxLinkLabel::TmxLinkLabel(rtl::TComponent* owner)
    : ui::TLabel(owner), FShadowLayout(slBottomRight), FShadowColor(ui::clBtnShadow),
      FShadowSize(0), FLinkFont(std::make_unique<ui::TFont>()), FMouseOver(false),
      FLabelStyle(lsStandard), FSavedCursor(Cursor()), FVersionCode(0x010B) {
  FLinkFont->SetColor(ui::clBlue);
  FLinkFont->SetStyle(ui::fsUnderline);
}

TmxLinkLabel::~TmxLinkLabel() = default;

void TmxLinkLabel::SetLinkFont(ui::TFont* value) {
  FLinkFont->Assign(value);
  FLinkFont->SetPixelsPerInch(PixelsPerInch());
}

void TmxLinkLabel::ScaleFonts() {
  FLinkFont->SetPixelsPerInch(PixelsPerInch());
  TLabel::ScaleFonts();
}

void TmxLinkLabel::SetShadowLayout(TmxShadowLayout value) {
  if (value == FShadowLayout)
    return;
  FShadowLayout = value;
  AdjustBounds();
  Invalidate();
}

void TmxLinkLabel::SetShadowColor(ui::TColor value) {
  if (value == FShadowColor)
    return;
  FShadowColor = value;
  Invalidate();
}

void TmxLinkLabel::SetShadowSize(int32_t value) {
  if (value > 5)
    value = 5;
  if (value == FShadowSize || value < 0)
    return;
  // Shrink to the bare text first, so the shadow grows it from there.
  FShadowSize = 0;
  AdjustBounds();
  FShadowSize = value;
  AdjustBounds();
  Invalidate();
}

void TmxLinkLabel::SetLabelStyle(TmxLinkLabelStyle value) {
  if (value == FLabelStyle)
    return;
  FLabelStyle = value;
  Invalidate();
}

std::string TmxLinkLabel::Version() const {
  return rtl::Format("%d.%d", (FVersionCode >> 8) & 0xFF, FVersionCode & 0xFF);
}

void TmxLinkLabel::SelectFont(ui::TCanvas& canvas) {
  canvas.Font().Assign(Font());
  if (FMouseOver && IsLinkStyle())
    canvas.Font().Assign(FLinkFont.get());
}

void TmxLinkLabel::DrawLabelText(ui::TCanvas& canvas, RECT& rect, UINT flags) {
  std::string text = Caption();
  if ((flags & DT_CALCRECT) && (text.empty() || (ShowAccelChar() && text == "&")))
    text += ' ';
  if (!ShowAccelChar())
    flags |= DT_NOPREFIX;
  canvas.Font().Assign(Font());

  // The shadow's distance and the emboss's are pixels at 96 DPI.
  const int s = Scaled(FShadowSize);
  const int e = Scaled(1);
  const int dx = (FShadowLayout == slTopLeft || FShadowLayout == slBottomLeft) ? -s : s;
  const int dy = (FShadowLayout == slTopLeft || FShadowLayout == slTopRight) ? -s : s;
  RECT shadow = rect;
  RECT grown = rect;
  OffsetRect(&shadow, dx, dy);
  InflateRect(&grown, dx, dy);

  if (Enabled()) {
    SelectFont(canvas);
    if (s > 0) {
      canvas.Font().SetColor(FShadowColor);
      canvas.DrawText(text, shadow, flags);
    }
    SelectFont(canvas);
    canvas.DrawText(text, rect, flags);
    if (s > 0)
      rect = grown;
  } else {
    OffsetRect(&rect, e, e);
    canvas.Font().SetColor(ui::clBtnHighlight);
    canvas.DrawText(text, rect, flags);
    OffsetRect(&rect, -e, -e);
    canvas.Font().SetColor(ui::clBtnShadow);
    canvas.DrawText(text, rect, flags);
  }
}

int32_t TmxLinkLabel::AccessibleRole() const {
  return IsLinkStyle() ? ROLE_SYSTEM_LINK : TLabel::AccessibleRole();
}

std::string TmxLinkLabel::AccessibleAction() const {
  return IsLinkStyle() && !FLink.empty() ? "Jump" : TLabel::AccessibleAction();
}

void TmxLinkLabel::CMMouseEnter() {
  TLabel::CMMouseEnter();
  if (FMouseOver || !Enabled() || DragMode() == ui::dmAutomatic)
    return;
  FMouseOver = true;
  if (IsLinkStyle()) {
    FSavedCursor = Cursor();
    SetCursor(ui::crHandPoint);
  }
  Repaint();
}

void TmxLinkLabel::CMMouseLeave() {
  TLabel::CMMouseLeave();
  if (!FMouseOver || !Enabled())
    return;
  FMouseOver = false;
  SetCursor(FSavedCursor);
  Invalidate();
}

void TmxLinkLabel::Click() {
  TLabel::Click();
  if (FLink.empty())
    return;
  if (FLabelStyle == lsInternetLink)
    ShellOpen(FLink);
  else if (FLabelStyle == lsMailTo)
    ShellOpen("mailto:" + FLink);
}

void TmxLinkLabel::ShellOpen(const std::string& target) {
  const HWND owner = ui::Application ? ui::Application->Handle() : nullptr;
  ShellExecuteA(owner, nullptr, target.c_str(), nullptr, nullptr, SW_SHOWNOACTIVATE);
}

namespace {

constexpr const char* SShadowLayoutNames[] = {"slTopLeft", "slTopRight", "slBottomLeft",
                                              "slBottomRight"};
constexpr const char* SLabelStyleNames[] = {"lsStandard", "lsInternetLink", "lsMailTo"};

} // namespace

void RegisterLinkLabelClass() {
  ui::RegisterControlClasses();
  if (rtl::FindClassInfo("TmxLinkLabel"))
    return;
  rtl::TClassBuilder<TmxLinkLabel>("TmxLinkLabel", "TLabel")
      .Creatable()
      .Enum("ShadowLayout", &TmxLinkLabel::ShadowLayout, &TmxLinkLabel::SetShadowLayout,
            SShadowLayoutNames)
      .Custom(
          "ShadowColor",
          [](TmxLinkLabel* l, rtl::TReader& r) { l->SetShadowColor(ui::ReadColor(r)); },
          [](TmxLinkLabel* l, rtl::TWriter& w) { ui::WriteColor(w, l->ShadowColor()); })
      .Integer("ShadowSize", &TmxLinkLabel::ShadowSize, &TmxLinkLabel::SetShadowSize)
      .Object("LinkFont", &TmxLinkLabel::LinkFont)
      .Enum("LabelStyle", &TmxLinkLabel::LabelStyle, &TmxLinkLabel::SetLabelStyle, SLabelStyleNames)
      .String("Link", &TmxLinkLabel::Link, &TmxLinkLabel::SetLink)
      .String("Version", &TmxLinkLabel::Version, &TmxLinkLabel::SetVersion)
      .Register();
}

} // namespace mx
