// The controls' property tables, named as Delphi form files name them.
#include <array>
#include <utility>

#include "ComCtrls.h"
#include "Controls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "rtl/Filer.h"

namespace ui {

namespace {

template <typename T> using B = rtl::TClassBuilder<T>;

// Properties that form files carry but that change nothing here.
template <typename T> B<T>& Ignored(B<T>& b, const char* name) {
  return b.Custom(
      name, [](T*, rtl::TReader& r) { r.Binary().SkipValue(); }, nullptr);
}

constexpr std::array<std::pair<const char*, TCursor>, 8> SCursorNames{{
    {"crDefault", crDefault},
    {"crNone", -1},
    {"crArrow", crArrow},
    {"crCross", -3},
    {"crIBeam", crIBeam},
    {"crHourGlass", -11},
    {"crHandPoint", crHandPoint},
    {"crHelp", -20},
}};

TCursor ReadCursor(rtl::TReader& r) {
  if (r.NextValue() != rtl::TValueType::vaIdent)
    return static_cast<TCursor>(r.ReadInteger());
  const std::string ident = r.ReadIdent();
  for (const auto& [name, value] : SCursorNames)
    if (rtl::SameText(ident, name))
      return value;
  throw rtl::EReadError(rtl::SInvalidPropertyType);
}

void WriteCursor(rtl::TWriter& w, TCursor cursor) {
  for (const auto& [name, value] : SCursorNames)
    if (value == cursor) {
      w.WriteIdent(name);
      return;
    }
  w.WriteInteger(cursor);
}

constexpr const char* SDragModeNames[] = {"dmManual", "dmAutomatic"};
constexpr const char* SAlignmentNames[] = {"taLeftJustify", "taRightJustify", "taCenter"};
constexpr const char* SLayoutNames[] = {"tlTop", "tlCenter", "tlBottom"};
constexpr const char* SPanelBevelNames[] = {"bvNone", "bvLowered", "bvRaised", "bvSpace"};
constexpr const char* SBevelShapeNames[] = {
    "bsBox", "bsFrame", "bsTopLine", "bsBottomLine", "bsLeftLine", "bsRightLine", "bsSpacer"};
constexpr const char* SBevelStyleNames[] = {"bsLowered", "bsRaised"};
constexpr const char* SShapeNames[] = {"stRectangle",   "stSquare",  "stRoundRect",
                                       "stRoundSquare", "stEllipse", "stCircle"};
constexpr const char* SScrollNames[] = {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"};
constexpr const char* SEditBorderNames[] = {"bsNone", "bsSingle"};
constexpr const char* SFormBorderNames[] = {"bsNone",   "bsSingle",     "bsSizeable",
                                            "bsDialog", "bsToolWindow", "bsSizeToolWin"};
constexpr const char* SPositionNames[] = {
    "poDesigned",     "poDefault",       "poDefaultPosOnly", "poDefaultSizeOnly",
    "poScreenCenter", "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"};
constexpr const char* SBorderIconNames[] = {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"};

TBorderIcons ReadBorderIcons(rtl::TReader& r) {
  TBorderIcons icons = 0;
  for (const std::string& name : r.ReadSet()) {
    bool known = false;
    for (int i = 0; i < 4; ++i)
      if (rtl::SameText(name, SBorderIconNames[i])) {
        icons |= static_cast<TBorderIcons>(1 << i);
        known = true;
      }
    if (!known)
      throw rtl::EReadError(rtl::SInvalidPropertyType);
  }
  return icons;
}

std::vector<std::string> ReadStringList(rtl::TReader& r) {
  std::vector<std::string> lines;
  r.Binary().ReadListBegin();
  while (!r.Binary().EndOfList())
    lines.push_back(r.ReadString());
  r.Binary().ReadListEnd();
  return lines;
}

void RegisterControl() {
  B<TControl> b("TControl", "TComponent");
  b.Integer("Left", &TControl::Left, &TControl::SetLeft)
      .Integer("Top", &TControl::Top, &TControl::SetTop)
      .Integer("Width", &TControl::Width, &TControl::SetWidth)
      .Integer("Height", &TControl::Height, &TControl::SetHeight)
      .String("Caption", &TControl::Caption, &TControl::SetCaption)
      .String("Text", &TControl::Text, &TControl::SetText)
      .Custom(
          "Color", [](TControl* c, rtl::TReader& r) { c->SetColor(ReadColor(r)); },
          [](TControl* c, rtl::TWriter& w) { WriteColor(w, c->Color()); })
      .Custom(
          "Cursor", [](TControl* c, rtl::TReader& r) { c->SetCursor(ReadCursor(r)); },
          [](TControl* c, rtl::TWriter& w) { WriteCursor(w, c->Cursor()); })
      .Enum("DragMode", &TControl::DragMode, &TControl::SetDragMode, SDragModeNames, dmManual)
      .Boolean("Enabled", &TControl::Enabled, &TControl::SetEnabled, true)
      .Object("Font", &TControl::Font)
      .Boolean("ParentColor", &TControl::ParentColor, &TControl::SetParentColor)
      .Boolean("ParentFont", &TControl::ParentFont, &TControl::SetParentFont)
      .Boolean("Visible", &TControl::Visible, &TControl::SetVisible, true)
      .Event("OnClick", &TControl::OnClick)
      .Event("OnMouseEnter", &TControl::OnMouseEnter)
      .Event("OnMouseLeave", &TControl::OnMouseLeave);
  for (const char* name : {"Hint", "ShowHint", "ParentShowHint", "ParentBiDiMode", "BiDiMode"})
    Ignored(b, name);
  b.Register();
  B<TGraphicControl>("TGraphicControl", "TControl").Register();
  B<TWinControl>("TWinControl", "TControl")
      .Integer("TabOrder", &TWinControl::TabOrder, &TWinControl::SetTabOrder)
      .Boolean("TabStop", &TWinControl::TabStop, &TWinControl::SetTabStop)
      .Register();
}

void RegisterLabels() {
  B<TCustomLabel>("TCustomLabel", "TGraphicControl")
      .Enum("Alignment", &TCustomLabel::Alignment, &TCustomLabel::SetAlignment, SAlignmentNames,
            taLeftJustify)
      .Boolean("AutoSize", &TCustomLabel::AutoSize, &TCustomLabel::SetAutoSize, true)
      .Enum("Layout", &TCustomLabel::Layout, &TCustomLabel::SetLayout, SLayoutNames, tlTop)
      .Boolean("ShowAccelChar", &TCustomLabel::ShowAccelChar, &TCustomLabel::SetShowAccelChar, true)
      .Boolean("Transparent", &TCustomLabel::Transparent, &TCustomLabel::SetTransparent, false)
      .Boolean("WordWrap", &TCustomLabel::WordWrap, &TCustomLabel::SetWordWrap, false)
      .Register();
  B<TLabel>("TLabel", "TCustomLabel").Creatable().Register();
}

void RegisterButtons() {
  B<TButtonControl>("TButtonControl", "TWinControl").Register();
  B<TButton> button("TButton", "TButtonControl");
  button.Creatable().Boolean("Default", &TButton::Default, &TButton::SetDefault, false);
  Ignored(button, "Cancel");
  Ignored(button, "ModalResult");
  button.Register();
  B<TCheckBox>("TCheckBox", "TButtonControl")
      .Creatable()
      .Boolean("Checked", &TCheckBox::Checked, &TCheckBox::SetChecked, false)
      .Register();
  B<TRadioButton>("TRadioButton", "TButtonControl")
      .Creatable()
      .Boolean("Checked", &TRadioButton::Checked, &TRadioButton::SetChecked, false)
      .Register();
  B<TEdit>("TEdit", "TWinControl").Creatable().Event("OnChange", &TEdit::OnChange).Register();
}

void RegisterContainers() {
  B<TPanel>("TPanel", "TWinControl")
      .Creatable()
      .Enum("BevelOuter", &TPanel::BevelOuter, &TPanel::SetBevelOuter, SPanelBevelNames, bvRaised)
      .Enum("BevelInner", &TPanel::BevelInner, &TPanel::SetBevelInner, SPanelBevelNames, bvNone)
      .Register();
  B<TStrings>("TStrings", "TPersistent")
      .Custom(
          "Strings", [](TStrings* s, rtl::TReader& r) { s->SetStrings(ReadStringList(r)); },
          nullptr)
      .Register();
  B<TRichEdit>("TRichEdit", "TWinControl")
      .Creatable()
      .Object("Lines", &TRichEdit::Lines)
      .Enum("ScrollBars", &TRichEdit::ScrollBars, &TRichEdit::SetScrollBars, SScrollNames)
      .Enum("BorderStyle", &TRichEdit::BorderStyle, &TRichEdit::SetBorderStyle, SEditBorderNames)
      .Boolean("ReadOnly", &TRichEdit::ReadOnly, &TRichEdit::SetReadOnly, false)
      .Register();
}

void RegisterPictures() {
  B<TPicture>("TPicture", "TPersistent")
      .Custom(
          "Data",
          [](TPicture* p, rtl::TReader& r) {
            r.ReadBinary([p](rtl::TStream& s) { p->LoadData(s); });
          },
          nullptr)
      .Register();
  B<TImage>("TImage", "TGraphicControl")
      .Creatable()
      .Boolean("AutoSize", &TImage::AutoSize, &TImage::SetAutoSize, false)
      .Boolean("Center", &TImage::Center, &TImage::SetCenter, false)
      .Boolean("Stretch", &TImage::Stretch, &TImage::SetStretch, false)
      .Object("Picture", &TImage::Picture)
      .Register();
  B<TBevel>("TBevel", "TGraphicControl")
      .Creatable()
      .Enum("Shape", &TBevel::Shape, &TBevel::SetShape, SBevelShapeNames, bsBox)
      .Enum("Style", &TBevel::Style, &TBevel::SetStyle, SBevelStyleNames, bsLowered)
      .Register();
  B<TShape>("TShape", "TGraphicControl")
      .Creatable()
      .Object("Brush", &TShape::Brush)
      .Object("Pen", &TShape::Pen)
      .Enum("Shape", &TShape::Shape, &TShape::SetShape, SShapeNames, stRectangle)
      .Register();
}

void RegisterForm() {
  B<TForm> form("TForm", "TWinControl");
  form.Enum("BorderStyle", &TForm::BorderStyle, &TForm::SetBorderStyle, SFormBorderNames)
      .Custom(
          "BorderIcons", [](TForm* f, rtl::TReader& r) { f->SetBorderIcons(ReadBorderIcons(r)); },
          nullptr)
      .Integer("ClientWidth", &TForm::ClientWidth, &TForm::SetClientWidth)
      .Integer("ClientHeight", &TForm::ClientHeight, &TForm::SetClientHeight)
      .Enum("Position", &TForm::Position, &TForm::SetPosition, SPositionNames)
      .Event("OnCreate", &TForm::OnCreate);
  for (const char* name : {"OldCreateOrder", "PixelsPerInch", "TextHeight", "Scaled"})
    Ignored(form, name);
  form.Register();
}

} // namespace

void RegisterControlClasses() {
  if (rtl::FindClassInfo("TControl"))
    return;
  if (!rtl::FindClassInfo("TComponent"))
    rtl::RegisterRuntimeClasses();
  RegisterGraphicsClasses();
  RegisterControl();
  RegisterLabels();
  RegisterButtons();
  RegisterContainers();
  RegisterPictures();
  RegisterForm();
}

} // namespace ui
