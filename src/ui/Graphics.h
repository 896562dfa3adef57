// Colours, fonts, brushes, pens and the canvas that paints with them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <windows.h>

#include "rtl/Classes.h"

// windows.h maps DrawText and RegisterClass to their ANSI functions; here the
// names are the canvas method and the filer's class registry.
#undef DrawText
#undef RegisterClass

namespace rtl {
class TReader;
class TWriter;
} // namespace rtl

namespace ui {

// An RGB value (0x00BBGGRR) or, with the top byte 0xFF, a system colour index.
using TColor = int32_t;

inline constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000);
inline constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
inline constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
inline constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
inline constexpr TColor clBtnShadow = clSystemColor | COLOR_BTNSHADOW;
inline constexpr TColor clBtnHighlight = clSystemColor | COLOR_BTNHIGHLIGHT;
inline constexpr TColor clBtnText = clSystemColor | COLOR_BTNTEXT;
inline constexpr TColor clGrayText = clSystemColor | COLOR_GRAYTEXT;
inline constexpr TColor clHighlight = clSystemColor | COLOR_HIGHLIGHT;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;

COLORREF ColorToRGB(TColor color);
// Colour names as form streams carry them ("clBtnFace"); false if unknown.
bool IdentToColor(const std::string& ident, TColor& color);
// A colour property's value: an identifier or an integer.
TColor ReadColor(rtl::TReader& reader);
void WriteColor(rtl::TWriter& writer, TColor color);
// A charset property's value: an identifier (DEFAULT_CHARSET) or an integer.
int ReadCharset(rtl::TReader& reader);

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint8_t;

struct TGdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using TFontHandle = std::unique_ptr<std::remove_pointer_t<HFONT>, TGdiObjectDeleter>;
// Any pen, brush, bitmap or font of ours.
using TGdiHandle = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, TGdiObjectDeleter>;

// An object selected into a device context until the guard ends; declared
// after the object's owner, so it is put back before the object goes.
class TSelection {
public:
  TSelection(HDC dc, HGDIOBJ object) : FDC(dc), FOld(object ? SelectObject(dc, object) : nullptr) {}
  ~TSelection() {
    if (FOld)
      SelectObject(FDC, FOld);
  }
  TSelection(const TSelection&) = delete;
  TSelection& operator=(const TSelection&) = delete;

private:
  HDC FDC;
  HGDIOBJ FOld;
};

// A device context's state (origin, clipping, selections) restored at the end.
class TSavedDC {
public:
  explicit TSavedDC(HDC dc) : FDC(dc), FSaved(SaveDC(dc)) {}
  ~TSavedDC() {
    if (FSaved)
      RestoreDC(FDC, FSaved);
  }
  TSavedDC(const TSavedDC&) = delete;
  TSavedDC& operator=(const TSavedDC&) = delete;

private:
  HDC FDC;
  int FSaved;
};

// A memory device context compatible with another.
class TMemoryDC {
public:
  explicit TMemoryDC(HDC compatible) : FDC(CreateCompatibleDC(compatible)) {}
  ~TMemoryDC() {
    if (FDC)
      DeleteDC(FDC);
  }
  TMemoryDC(const TMemoryDC&) = delete;
  TMemoryDC& operator=(const TMemoryDC&) = delete;
  HDC Get() const { return FDC; }

private:
  HDC FDC;
};

// The device context of a window (or of the screen, for null) until released.
class TWindowDC {
public:
  explicit TWindowDC(HWND wnd) : FWnd(wnd), FDC(GetDC(wnd)) {}
  ~TWindowDC() {
    if (FDC)
      ReleaseDC(FWnd, FDC);
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  HDC Get() const { return FDC; }

private:
  HWND FWnd;
  HDC FDC;
};

// BeginPaint to EndPaint, on every path.
class TPaintDC {
public:
  explicit TPaintDC(HWND wnd) : FWnd(wnd), FDC(BeginPaint(wnd, &FPaint)) {}
  ~TPaintDC() { EndPaint(FWnd, &FPaint); }
  TPaintDC(const TPaintDC&) = delete;
  TPaintDC& operator=(const TPaintDC&) = delete;
  HDC Get() const { return FDC; }
  const RECT& Rect() const { return FPaint.rcPaint; }

private:
  HWND FWnd;
  PAINTSTRUCT FPaint{};
  HDC FDC;
};

// A font description with its GDI font made on demand.
class TFont : public rtl::TPersistent {
public:
  const char* ClassName() const override { return "TFont"; }
  void Assign(rtl::TPersistent* source) override;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& value);
  int32_t Height() const { return FHeight; }
  void SetHeight(int32_t value);
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles value);
  int32_t Charset() const { return FCharset; }
  void SetCharset(int32_t value);
  // Height is given at 96 DPI; the GDI font is made for this DPI.
  int32_t PixelsPerInch() const { return FPixelsPerInch; }
  void SetPixelsPerInch(int32_t value);
  // The height the GDI font gets: Height at PixelsPerInch, rounded toward
  // zero, so that a text never grows faster than the box it was written for
  // (Tahoma -11 rounded to -17 at 144 DPI outgrows its radio buttons).
  int32_t PixelHeight() const { return FHeight * FPixelsPerInch / 96; }

  HFONT Handle();
  // Runs after every change of an attribute.
  std::function<void()> OnChange;
  // Runs before the GDI font is let go, so whoever selected it can put it back.
  std::function<void()> OnHandleChanging;

private:
  // A colour is no part of the GDI font: the handle stays.
  void Changed(bool handle = true);
  bool SameFace(const TFont& other) const;
  std::string FName = "MS Sans Serif";
  int32_t FHeight = -11;
  TColor FColor = clWindowText;
  TFontStyles FStyle = 0;
  int32_t FCharset = DEFAULT_CHARSET;
  int32_t FPixelsPerInch = 96;
  TFontHandle FHandle;
};

enum TBrushStyle : uint8_t { bsSolid, bsClear };
enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };

class TBrush : public rtl::TPersistent {
public:
  const char* ClassName() const override { return "TBrush"; }
  TColor Color() const { return FColor; }
  void SetColor(TColor value) { FColor = value; }
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle value) { FStyle = value; }

private:
  TColor FColor = clWhite;
  TBrushStyle FStyle = bsSolid;
};

class TPen : public rtl::TPersistent {
public:
  const char* ClassName() const override { return "TPen"; }
  TColor Color() const { return FColor; }
  void SetColor(TColor value) { FColor = value; }
  TPenStyle Style() const { return FStyle; }
  void SetStyle(TPenStyle value) { FStyle = value; }
  int32_t Width() const { return FWidth; }
  void SetWidth(int32_t value) { FWidth = value; }

private:
  TColor FColor = clBlack;
  TPenStyle FStyle = psSolid;
  int32_t FWidth = 1;
};

// Drawing on a device context it does not own; the objects it selects are
// put back when it ends.
class TCanvas {
public:
  explicit TCanvas(HDC dc);
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  HDC Handle() const { return FDC; }
  TFont& Font() { return FFont; }
  TBrush& Brush() { return FBrush; }
  TPen& Pen() { return FPen; }

  void FillRect(const RECT& rect);
  void Rectangle(const RECT& rect);
  // DrawTextA with the canvas font and its colour, transparent background.
  int DrawText(const std::string& text, RECT& rect, UINT flags);

private:
  void SelectFont();
  void DeselectFont();
  HDC FDC;
  TFont FFont;
  TBrush FBrush;
  TPen FPen;
  HGDIOBJ FOldFont = nullptr;
};

// The graphics classes' property tables for the filer.
void RegisterGraphicsClasses();

} // namespace ui
