// The rich edit control, holding plain text lines.
#pragma once

#include <string>
#include <vector>

#include "Controls.h"

namespace ui {

// A list of text lines, as form streams carry them (Lines.Strings).
class TStrings : public rtl::TPersistent {
public:
  const char* ClassName() const override { return "TStrings"; }
  const std::vector<std::string>& Strings() const { return FStrings; }
  void SetStrings(std::vector<std::string> lines);
  std::string Text() const;
  std::function<void()> OnChange;

private:
  std::vector<std::string> FStrings;
};

enum TScrollStyle : uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TBorderStyle : uint8_t { bsNoBorder, bsSingleBorder };

class TRichEdit : public TWinControl {
public:
  explicit TRichEdit(rtl::TComponent* owner);
  const char* ClassName() const override { return "TRichEdit"; }
  TStrings* Lines() { return &FLines; }
  TScrollStyle ScrollBars() const { return FScrollBars; }
  void SetScrollBars(TScrollStyle value) { FScrollBars = value; }
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle value) { FBorderStyle = value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value);

protected:
  void CreateParams(TCreateParams& params) override;
  void InitWnd() override;
  bool WantsKey(WPARAM key) const override { return key == VK_RETURN; }

private:
  TStrings FLines;
  TScrollStyle FScrollBars = ssBoth;
  TBorderStyle FBorderStyle = bsSingleBorder;
  bool FReadOnly = false;
};

} // namespace ui
