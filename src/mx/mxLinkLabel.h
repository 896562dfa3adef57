// A caption label that acts as a hyperlink: a second font while the mouse is
// over it, an optional drop shadow, and a click that hands its link to the shell.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ui/StdCtrls.h"

namespace mx {

enum TmxLinkLabelStyle : uint8_t { lsStandard, lsInternetLink, lsMailTo };
enum TmxShadowLayout : uint8_t { slTopLeft, slTopRight, slBottomLeft, slBottomRight };

class TmxLinkLabel : public ui::TLabel {
public:
  explicit TmxLinkLabel(rtl::TComponent* owner);
  ~TmxLinkLabel() override;
  const char* ClassName() const override { return "TmxLinkLabel"; }

  TmxShadowLayout ShadowLayout() const { return FShadowLayout; }
  void SetShadowLayout(TmxShadowLayout value);
  ui::TColor ShadowColor() const { return FShadowColor; }
  void SetShadowColor(ui::TColor value);
  int32_t ShadowSize() const { return FShadowSize; }
  // Kept within 0 to 5: above 5 becomes 5, a negative value is ignored.
  void SetShadowSize(int32_t value);
  ui::TFont* LinkFont() const { return FLinkFont.get(); }
  void SetLinkFont(ui::TFont* value);
  TmxLinkLabelStyle LabelStyle() const { return FLabelStyle; }
  void SetLabelStyle(TmxLinkLabelStyle value);
  const std::string& Link() const { return FLink; }
  void SetLink(const std::string& value) { FLink = value; }
  // "major.minor"; writing it changes nothing.
  std::string Version() const;
  void SetVersion(const std::string&) {}

  bool MouseOver() const { return FMouseOver; }
  void Click() override;
  void DrawLabelText(ui::TCanvas& canvas, RECT& rect, UINT flags) override;
  // A link (when it is one) whose default action follows it.
  int32_t AccessibleRole() const override;
  std::string AccessibleAction() const override;

protected:
  void CMMouseEnter() override;
  void CMMouseLeave() override;
  // The link font follows the label's DPI, as its font does.
  void ScaleFonts() override;
  // Hands the target to the shell; the result is not examined.
  virtual void ShellOpen(const std::string& target);

private:
  bool IsLinkStyle() const { return FLabelStyle == lsInternetLink || FLabelStyle == lsMailTo; }
  void SelectFont(ui::TCanvas& canvas);

  TmxShadowLayout FShadowLayout;
  ui::TColor FShadowColor;
  int32_t FShadowSize;
  std::unique_ptr<ui::TFont> FLinkFont;
  bool FMouseOver;
  TmxLinkLabelStyle FLabelStyle;
  ui::TCursor FSavedCursor;
  std::string FLink;
  int32_t FVersionCode;
};

// Registers TmxLinkLabel with the filer (after the framework's controls).
void RegisterLinkLabelClass();

} // namespace mx
