#include "Graphics.h"

#include <array>
#include <utility>

#include "rtl/Filer.h"

namespace ui {

namespace {

struct TColorName {
  const char* Name;
  TColor Value;
};

constexpr std::array<TColorName, 22> SColorNames{{
    {"clBlack", clBlack},
    {"clMaroon", clMaroon},
    {"clNavy", clNavy},
    {"clGray", clGray},
    {"clSilver", clSilver},
    {"clRed", clRed},
    {"clBlue", clBlue},
    {"clWhite", clWhite},
    {"clGreen", 0x008000},
    {"clLime", 0x00FF00},
    {"clYellow", 0x00FFFF},
    {"clNone", clNone},
    {"clDefault", clDefault},
    {"clWindow", clWindow},
    {"clWindowText", clWindowText},
    {"clBtnFace", clBtnFace},
    {"clBtnShadow", clBtnShadow},
    {"clBtnHighlight", clBtnHighlight},
    {"clBtnText", clBtnText},
    {"clGrayText", clGrayText},
    {"clHighlight", clHighlight},
    {"clHighlightText", clSystemColor | COLOR_HIGHLIGHTTEXT},
}};

} // namespace

COLORREF ColorToRGB(TColor color) {
  if ((static_cast<uint32_t>(color) & 0xFF000000u) == 0xFF000000u)
    return GetSysColor(color & 0xFF);
  return static_cast<COLORREF>(color) & 0xFFFFFF;
}

bool IdentToColor(const std::string& ident, TColor& color) {
  for (const TColorName& c : SColorNames)
    if (rtl::SameText(ident, c.Name)) {
      color = c.Value;
      return true;
    }
  return false;
}

TColor ReadColor(rtl::TReader& reader) {
  if (reader.NextValue() == rtl::TValueType::vaIdent) {
    TColor color = 0;
    if (!IdentToColor(reader.ReadIdent(), color))
      throw rtl::EReadError(rtl::SInvalidPropertyType);
    return color;
  }
  return reader.ReadInteger();
}

void WriteColor(rtl::TWriter& writer, TColor color) {
  for (const TColorName& c : SColorNames)
    if (c.Value == color) {
      writer.WriteIdent(c.Name);
      return;
    }
  writer.WriteInteger(color);
}

int ReadCharset(rtl::TReader& reader) {
  if (reader.NextValue() != rtl::TValueType::vaIdent)
    return reader.ReadInteger();
  const std::string ident = reader.ReadIdent();
  static constexpr std::array<std::pair<const char*, int>, 4> names{{
      {"ANSI_CHARSET", ANSI_CHARSET},
      {"DEFAULT_CHARSET", DEFAULT_CHARSET},
      {"SYMBOL_CHARSET", SYMBOL_CHARSET},
      {"OEM_CHARSET", OEM_CHARSET},
  }};
  for (const auto& [name, value] : names)
    if (rtl::SameText(ident, name))
      return value;
  throw rtl::EReadError(rtl::SInvalidPropertyType);
}

// --- TFont ---

void TFont::Assign(rtl::TPersistent* source) {
  if (auto* font = dynamic_cast<TFont*>(source)) {
    // Compared before the copy: the GDI font stays only for the same face.
    const bool sameFace = FHandle && SameFace(*font);
    FName = font->FName;
    FHeight = font->FHeight;
    FColor = font->FColor;
    FStyle = font->FStyle;
    FCharset = font->FCharset;
    FPixelsPerInch = font->FPixelsPerInch;
    Changed(!sameFace);
    return;
  }
  TPersistent::Assign(source);
}

void TFont::SetName(const std::string& value) {
  FName = value;
  Changed();
}

void TFont::SetHeight(int32_t value) {
  FHeight = value;
  Changed();
}

void TFont::SetColor(TColor value) {
  FColor = value;
  Changed(false);
}

void TFont::SetStyle(TFontStyles value) {
  FStyle = value;
  Changed();
}

void TFont::SetCharset(int32_t value) {
  FCharset = value;
  Changed();
}

void TFont::SetPixelsPerInch(int32_t value) {
  if (value <= 0 || value == FPixelsPerInch)
    return;
  FPixelsPerInch = value;
  Changed();
}

bool TFont::SameFace(const TFont& other) const {
  return FName == other.FName && PixelHeight() == other.PixelHeight() && FStyle == other.FStyle &&
         FCharset == other.FCharset;
}

void TFont::Changed(bool handle) {
  if (handle && FHandle) {
    if (OnHandleChanging)
      OnHandleChanging();
    FHandle.reset();
  }
  if (OnChange)
    OnChange();
}

HFONT TFont::Handle() {
  if (!FHandle) {
    LOGFONTA lf{};
    lf.lfHeight = PixelHeight();
    lf.lfWeight = (FStyle & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (FStyle & fsItalic) ? 1 : 0;
    lf.lfUnderline = (FStyle & fsUnderline) ? 1 : 0;
    lf.lfStrikeOut = (FStyle & fsStrikeOut) ? 1 : 0;
    lf.lfCharSet = static_cast<BYTE>(FCharset);
    lf.lfQuality = DEFAULT_QUALITY;
    lstrcpynA(lf.lfFaceName, FName.c_str(), LF_FACESIZE);
    FHandle.reset(CreateFontIndirectA(&lf));
  }
  return FHandle.get();
}

// --- TCanvas ---

TCanvas::TCanvas(HDC dc) : FDC(dc) {
  // A font is never deleted while it is selected into the context.
  FFont.OnHandleChanging = [this] { DeselectFont(); };
}

TCanvas::~TCanvas() {
  DeselectFont();
  FFont.OnHandleChanging = nullptr;
}

void TCanvas::DeselectFont() {
  if (FOldFont)
    SelectObject(FDC, FOldFont);
  FOldFont = nullptr;
}

void TCanvas::SelectFont() {
  HGDIOBJ old = SelectObject(FDC, FFont.Handle());
  if (!FOldFont)
    FOldFont = old;
  SetTextColor(FDC, ColorToRGB(FFont.Color()));
  SetBkMode(FDC, TRANSPARENT);
}

void TCanvas::FillRect(const RECT& rect) {
  if (FBrush.Style() == bsClear)
    return;
  const TGdiHandle brush(CreateSolidBrush(ColorToRGB(FBrush.Color())));
  ::FillRect(FDC, &rect, static_cast<HBRUSH>(brush.get()));
}

void TCanvas::Rectangle(const RECT& rect) {
  FillRect(rect);
  if (FPen.Style() == psClear)
    return;
  const TGdiHandle pen(CreatePen(PS_SOLID, FPen.Width(), ColorToRGB(FPen.Color())));
  const TSelection penSelected(FDC, pen.get());
  const TSelection brushSelected(FDC, GetStockObject(NULL_BRUSH));
  ::Rectangle(FDC, rect.left, rect.top, rect.right, rect.bottom);
}

int TCanvas::DrawText(const std::string& text, RECT& rect, UINT flags) {
  SelectFont();
  return DrawTextA(FDC, text.c_str(), static_cast<int>(text.size()), &rect, flags);
}

// --- Registration ---

namespace {

constexpr const char* SFontStyleNames[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};

TFontStyles ReadFontStyles(rtl::TReader& reader) {
  TFontStyles styles = 0;
  for (const std::string& name : reader.ReadSet()) {
    bool known = false;
    for (int i = 0; i < 4; ++i)
      if (rtl::SameText(name, SFontStyleNames[i])) {
        styles |= static_cast<TFontStyles>(1 << i);
        known = true;
      }
    if (!known)
      throw rtl::EReadError(rtl::SInvalidPropertyType);
  }
  return styles;
}

void WriteFontStyles(rtl::TWriter& writer, TFontStyles styles) {
  std::vector<std::string> names;
  for (int i = 0; i < 4; ++i)
    if (styles & (1 << i))
      names.emplace_back(SFontStyleNames[i]);
  writer.WriteSet(names);
}

constexpr const char* SBrushStyleNames[] = {"bsSolid", "bsClear"};
constexpr const char* SPenStyleNames[] = {"psSolid",   "psDash",       "psDot",
                                          "psDashDot", "psDashDotDot", "psClear"};

} // namespace

void RegisterGraphicsClasses() {
  if (rtl::FindClassInfo("TFont"))
    return;
  rtl::TClassBuilder<TFont>("TFont", "TPersistent")
      .Custom(
          "Charset", [](TFont* f, rtl::TReader& r) { f->SetCharset(ReadCharset(r)); },
          [](TFont* f, rtl::TWriter& w) { w.WriteInteger(f->Charset()); })
      .Custom(
          "Color", [](TFont* f, rtl::TReader& r) { f->SetColor(ReadColor(r)); },
          [](TFont* f, rtl::TWriter& w) { WriteColor(w, f->Color()); })
      .Integer("Height", &TFont::Height, &TFont::SetHeight)
      .String("Name", &TFont::Name, &TFont::SetName)
      .Custom(
          "Style", [](TFont* f, rtl::TReader& r) { f->SetStyle(ReadFontStyles(r)); },
          [](TFont* f, rtl::TWriter& w) { WriteFontStyles(w, f->Style()); })
      .Register();
  rtl::TClassBuilder<TBrush>("TBrush", "TPersistent")
      .Custom(
          "Color", [](TBrush* b, rtl::TReader& r) { b->SetColor(ReadColor(r)); },
          [](TBrush* b, rtl::TWriter& w) { WriteColor(w, b->Color()); })
      .Enum("Style", &TBrush::Style, &TBrush::SetStyle, SBrushStyleNames)
      .Register();
  rtl::TClassBuilder<TPen>("TPen", "TPersistent")
      .Custom(
          "Color", [](TPen* p, rtl::TReader& r) { p->SetColor(ReadColor(r)); },
          [](TPen* p, rtl::TWriter& w) { WriteColor(w, p->Color()); })
      .Enum("Style", &TPen::Style, &TPen::SetStyle, SPenStyleNames)
      .Integer("Width", &TPen::Width, &TPen::SetWidth)
      .Register();
}

} // namespace ui
