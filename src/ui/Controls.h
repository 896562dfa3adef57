// Controls: the windowless control painted by its parent, the windowed
// control that owns an HWND, and the routing of messages between them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "Graphics.h"
#include "rtl/Classes.h"

namespace ui {

// The framework's notifications to a windowless control.
inline constexpr UINT CM_MOUSEENTER = 0xB013;
inline constexpr UINT CM_MOUSELEAVE = 0xB014;
// Posted to a host window: run the default action of its windowless child
// number wParam (counted from 1, as screen readers count them).
inline constexpr UINT CM_ACCESSIBLEACTION = WM_APP + 0x100;

using TCursor = int16_t;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crIBeam = -4;
inline constexpr TCursor crHandPoint = -21;
HCURSOR CursorHandle(TCursor cursor);

enum TDragMode : uint8_t { dmManual, dmAutomatic };
enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

class TWinControl;
class TForm;

class TControl : public rtl::TComponent {
public:
  explicit TControl(rtl::TComponent* owner);
  ~TControl() override;
  const char* ClassName() const override { return "TControl"; }

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* parent);
  void SetParentComponent(rtl::TComponent* parent) override;
  // The form that holds this control, or null.
  TForm* ParentForm() const;

  int32_t Left() const { return FLeft; }
  int32_t Top() const { return FTop; }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetLeft(int32_t v) { SetBounds(v, FTop, FWidth, FHeight); }
  void SetTop(int32_t v) { SetBounds(FLeft, v, FWidth, FHeight); }
  void SetWidth(int32_t v) { SetBounds(FLeft, FTop, v, FHeight); }
  void SetHeight(int32_t v) { SetBounds(FLeft, FTop, FWidth, v); }
  virtual void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
  RECT BoundsRect() const { return {FLeft, FTop, FLeft + FWidth, FTop + FHeight}; }
  RECT ClientRect() const { return {0, 0, FWidth, FHeight}; }

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool value);
  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool value);
  // Caption and Text are one property, as in the form streams.
  virtual std::string Caption() const { return FCaption; }
  virtual void SetCaption(const std::string& value);
  std::string Text() const { return Caption(); }
  void SetText(const std::string& value) { SetCaption(value); }

  TFont* Font() { return &FFont; }
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool value);
  TColor Color() const { return FColor; }
  virtual void SetColor(TColor value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool value);
  TCursor Cursor() const { return FCursor; }
  virtual void SetCursor(TCursor value) { FCursor = value; }
  TDragMode DragMode() const { return FDragMode; }
  void SetDragMode(TDragMode value) { FDragMode = value; }

  rtl::TNotifyEvent OnClick;
  rtl::TNotifyEvent OnMouseEnter;
  rtl::TNotifyEvent OnMouseLeave;

  virtual bool IsWindowed() const { return false; }
  // Sends one of the framework's notifications to the control.
  LRESULT Perform(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  virtual void Click();
  virtual void Invalidate();
  // Paints at once, not at the next WM_PAINT.
  virtual void Repaint();
  // Raises the control to the top of its parent's stacking order.
  virtual void BringToFront();
  // Windowless controls paint themselves here, in client coordinates.
  virtual void Paint(TCanvas&) {}

  // What a screen reader learns of a windowless control: its role (an
  // oleacc ROLE_SYSTEM_ value, 0 for nothing to tell), its name (the
  // caption unless set), and the name of its default action (none if empty),
  // which clicks it.
  virtual int32_t AccessibleRole() const { return 0; }
  virtual std::string AccessibleName() const;
  void SetAccessibleName(const std::string& value) { FAccessibleName = value; }
  virtual std::string AccessibleAction() const { return FAccessibleAction; }
  void SetAccessibleAction(const std::string& value) { FAccessibleAction = value; }

  // Called when the parent's font or colour changed.
  virtual void ParentFontChanged();
  virtual void ParentColorChanged();

  // Forms are written at 96 DPI. PixelsPerInch is the DPI the control is laid
  // out for: its bounds and pixel font heights are its 96-DPI ones times
  // PixelsPerInch / 96, rounded as MulDiv rounds.
  int32_t PixelsPerInch() const { return FPixelsPerInch; }
  // Lays the control, and a windowed one's children, out again for dpi.
  void ScaleForPPI(int32_t dpi);

protected:
  friend class TWinControl;
  // A 96-DPI length at the control's DPI.
  int32_t Scaled(int32_t value) const { return MulDiv(value, FPixelsPerInch, 96); }
  // The first pass of ScaleForPPI: the DPI and the bounds, for the whole tree
  // before any font changes, so that auto-sizing measures in final bounds.
  virtual void ChangeScale(int32_t dpi);
  // The bounds at the control's DPI, from the 96-DPI ones.
  virtual void ScaleBounds();
  // The second pass: fonts, parents first, then the auto-size pass.
  virtual void ScaleFonts();
  virtual void CMMouseEnter();
  virtual void CMMouseLeave();
  virtual void FontChanged() { Invalidate(); }
  virtual void TextChanged() { Invalidate(); }
  // The auto-size pass; nothing for controls without one.
  virtual void AdjustSize() {}
  void Loaded() override;
  // The visible state that windows should take: Visible and, in a form
  // being read, not yet shown.
  TWinControl* FParent = nullptr; // not owned
  std::string FCaption;

private:
  int32_t FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  // The bounds at 96 DPI, which every scaling starts from, so that moving
  // between monitors never accumulates rounding.
  int32_t FDesignLeft = 0, FDesignTop = 0, FDesignWidth = 0, FDesignHeight = 0;
  int32_t FPixelsPerInch = 96;
  bool FKeepDesign = false;
  bool FVisible = true;
  bool FEnabled = true;
  TFont FFont;
  bool FParentFont = true;
  TColor FColor = clBtnFace;
  bool FParentColor = false;
  TCursor FCursor = crDefault;
  TDragMode FDragMode = dmManual;
  bool FFontFromParent = false;
  std::string FAccessibleName;
  std::string FAccessibleAction;
};

// A control without a window of its own.
class TGraphicControl : public TControl {
public:
  using TControl::TControl;
  const char* ClassName() const override { return "TGraphicControl"; }
};

// What CreateWindowEx gets for a windowed control.
struct TCreateParams {
  std::string WindowClass; // a system class to subclass, or empty for our own
  DWORD Style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD ExStyle = 0;
  HWND ParentWindow = nullptr;
};

// A control with an HWND. Our own kinds get one window class each; system
// controls are subclassed. Both route messages to the object's WndProc.
class TWinControl : public TControl {
public:
  explicit TWinControl(rtl::TComponent* owner);
  ~TWinControl() override;
  const char* ClassName() const override { return "TWinControl"; }

  bool IsWindowed() const override { return true; }
  HWND Handle();
  bool HandleAllocated() const { return FHandle != nullptr; }
  // Creates the window and those of every child, parents first. The children
  // of a control that is covered wait until it is first uncovered, so hidden
  // pages cost nothing until they are shown.
  void CreateHandles();
  void DestroyHandle();

  const std::vector<TControl*>& Controls() const { return FControls; } // not owned
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);

  int32_t TabOrder() const { return FTabOrder; }
  void SetTabOrder(int32_t value) { FTabOrder = value; }
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool value) { FTabStop = value; }
  bool CanFocus() const;
  void SetFocus();

  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
  void SetVisible(bool value) override;
  void SetEnabled(bool value) override;
  std::string Caption() const override;
  void SetCaption(const std::string& value) override;
  void Invalidate() override;
  void Repaint() override;
  void BringToFront() override;
  void SetColor(TColor value) override;
  void ParentColorChanged() override;
  // Hides the windowed children that a sibling above covers entirely.
  void UpdateCovered();

  // Shows or hides the window without touching Visible: a page covered by a
  // sibling takes no input.
  void SetCovered(bool covered);
  bool Covered() const { return FCovered; }
  // The first control in tab order that can take the focus, or null.
  TWinControl* FirstTabStop();
  // The windowed control among this one's descendants that owns the window.
  TWinControl* FindControl(HWND wnd);
  // The windowed descendant with this control identifier, or null.
  TWinControl* FindControlById(int id);
  // The windowed children in tab order.
  std::vector<TWinControl*> TabOrderedChildren() const;

  // Repaints one windowless child at once.
  void RepaintControl(TControl* control);
  // The topmost visible windowless child under the point, or null.
  TControl* ControlAtPos(POINT point) const;
  // The visible windowless children that a screen reader is told of, in
  // stacking order from the bottom.
  std::vector<TControl*> AccessibleChildren() const;
  // The object behind one of our own windows (not a system control's), or null.
  static TWinControl* FromHandle(HWND wnd);

  virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);

protected:
  virtual void CreateParams(TCreateParams& params);
  virtual void CreateWnd();
  // After the window exists: put its state into it.
  virtual void InitWnd();
  LRESULT DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam);
  // Notifications the parent reflects back to the child that sent them.
  virtual bool CommandNotify(WORD) { return false; }
  virtual LRESULT CtlColor(HDC dc);
  virtual void PaintWindow(HDC dc);
  void FontChanged() override;
  // Paints the background and the windowless children.
  void PaintControls(HDC dc, const RECT& update);
  // Whether the control handles Enter, Tab or Escape itself rather than the
  // dialog manager.
  virtual bool WantsKey(WPARAM) const { return false; }
  // Whether the control shares the keyboard group (one tab stop, arrow keys)
  // of the control before it in tab order.
  virtual bool JoinsGroupOf(const TWinControl*) const { return false; }
  void ChangeScale(int32_t dpi) override;
  void ScaleFonts() override;

private:
  static LRESULT CALLBACK StaticWndProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SubclassProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR data);
  LRESULT SafeWndProc(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT DialogCode(WPARAM wParam, LPARAM lParam);
  void MouseMove(POINT point);
  void MouseLeave();
  void ResetBrush();
  void CreateChildHandles();

  HWND FHandle = nullptr;
  bool FSubclassed = false;
  bool FCovered = false;
  bool FChildHandlesPending = false;
  std::vector<TControl*> FControls; // not owned; bottom of the stacking order first
  int32_t FTabOrder = -1;
  bool FTabStop = false;
  TControl* FMouseControl = nullptr;   // windowless child under the mouse
  TControl* FCaptureControl = nullptr; // windowless child pressed
  bool FTracking = false;
  HBRUSH FBrush = nullptr;
  COLORREF FBrushColor = 0;
};

// Every control class's property table for the filer.
void RegisterControlClasses();

} // namespace ui
