// The standard controls: label, button, radio button, check box, edit field.
#pragma once

#include <cstdint>
#include <string>

#include "Controls.h"

namespace ui {

enum TTextLayout : uint8_t { tlTop, tlCenter, tlBottom };

// A caption painted by its parent, optionally sized to its text.
class TCustomLabel : public TGraphicControl {
public:
  explicit TCustomLabel(rtl::TComponent* owner);
  const char* ClassName() const override { return "TCustomLabel"; }

  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool value);
  TTextLayout Layout() const { return FLayout; }
  void SetLayout(TTextLayout value);
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool value);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool value);
  bool ShowAccelChar() const { return FShowAccelChar; }
  void SetShowAccelChar(bool value);

  void Paint(TCanvas& canvas) override;
  int32_t AccessibleRole() const override;
  // Draws or, with DT_CALCRECT, measures the caption into rect.
  virtual void DrawLabelText(TCanvas& canvas, RECT& rect, UINT flags);
  // The auto-size pass: runs when AutoSize is set and the form is not being read.
  void AdjustBounds();

protected:
  void AdjustSize() override { AdjustBounds(); }
  void FontChanged() override;
  // The flags for painting: tabs, alignment and word breaks.
  UINT TextFlags() const;

private:
  TAlignment FAlignment = taLeftJustify;
  bool FAutoSize = true;
  TTextLayout FLayout = tlTop;
  bool FWordWrap = false;
  bool FTransparent = false;
  bool FShowAccelChar = true;
};

class TLabel : public TCustomLabel {
public:
  using TCustomLabel::TCustomLabel;
  const char* ClassName() const override { return "TLabel"; }
};

class TButtonControl : public TWinControl {
public:
  explicit TButtonControl(rtl::TComponent* owner);
  const char* ClassName() const override { return "TButtonControl"; }

protected:
  bool CommandNotify(WORD code) override;
  // A click reported by the system control.
  virtual void Clicked() { Click(); }
};

class TButton : public TButtonControl {
public:
  explicit TButton(rtl::TComponent* owner);
  const char* ClassName() const override { return "TButton"; }
  bool Default() const { return FDefault; }
  void SetDefault(bool value);
  LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
  void CreateParams(TCreateParams& params) override;

private:
  bool FDefault = false;
};

class TCheckBox : public TButtonControl {
public:
  explicit TCheckBox(rtl::TComponent* owner);
  const char* ClassName() const override { return "TCheckBox"; }
  bool Checked() const;
  // A change clicks the box, as the user's click does.
  void SetChecked(bool value);

protected:
  void CreateParams(TCreateParams& params) override;
  void InitWnd() override;
  void Clicked() override { SetChecked(!FChecked); }

private:
  bool FChecked = false;
};

// One of a group: the radio buttons with the same parent.
class TRadioButton : public TButtonControl {
public:
  explicit TRadioButton(rtl::TComponent* owner);
  const char* ClassName() const override { return "TRadioButton"; }
  bool Checked() const { return FChecked; }
  // Checking one clears the others of its group.
  void SetChecked(bool value);
  LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
  void CreateParams(TCreateParams& params) override;
  void InitWnd() override;
  void Clicked() override;
  bool JoinsGroupOf(const TWinControl* previous) const override;

private:
  // A group is one tab stop: its selected button, or every button while none is.
  void UpdateGroupTabStops();
  bool FChecked = false;
};

// A one-line edit field. OnChange fires for every change of the text, typed
// or set by the program; setting the text it already holds is no change.
class TEdit : public TWinControl {
public:
  explicit TEdit(rtl::TComponent* owner);
  const char* ClassName() const override { return "TEdit"; }
  rtl::TNotifyEvent OnChange;

protected:
  void CreateParams(TCreateParams& params) override;
  bool CommandNotify(WORD code) override;
  void TextChanged() override;
  virtual void Change();
};

void RegisterStdControls();

} // namespace ui
