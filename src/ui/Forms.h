// Forms: top-level windows built from a form stream in the program's
// resources, with their handlers bound by name.
#pragma once

#include <cstdint>
#include <string>

#include "Controls.h"
#include "rtl/Filer.h"

namespace rtl {
class TStream;
}

namespace ui {

enum TFormBorderStyle : uint8_t {
  bsNone,
  bsSingle,
  bsSizeable,
  bsDialog,
  bsToolWindow,
  bsSizeToolWin
};
enum TBorderIcon : uint8_t { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = uint8_t;
enum TPosition : uint8_t {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};

class TButton;

class TForm : public TWinControl {
public:
  explicit TForm(rtl::TComponent* owner);
  ~TForm() override;
  const char* ClassName() const override { return "TForm"; }

  // Reads the form from the RCDATA resource of that name, creates its
  // windows and runs OnCreate. The first form read is the main form.
  void LoadFromResource(const char* resourceName);
  void ReadForm(rtl::TStream& stream);

  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle value) { FBorderStyle = value; }
  TBorderIcons BorderIcons() const { return FBorderIcons; }
  void SetBorderIcons(TBorderIcons value) { FBorderIcons = value; }
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition value) { FPosition = value; }
  int32_t ClientWidth() const { return FClientWidth; }
  void SetClientWidth(int32_t value) { FClientWidth = value; }
  int32_t ClientHeight() const { return FClientHeight; }
  void SetClientHeight(int32_t value) { FClientHeight = value; }

  void SetVisible(bool value) override;
  // Shows the form and brings it to the front; centred at its first showing
  // when Position asks for it.
  void Show();
  void Hide() { SetVisible(false); }
  // Ends the program for the main form; hides any other.
  void Close();

  // The control that has, or gets when the form is activated, the focus.
  TWinControl* ActiveControl() const { return FActiveControl; }
  void SetActiveControl(TWinControl* control);
  // A control took the focus: the default frame goes to it if it is a push
  // button, else back to the visible page's default button.
  void NoteFocus(TWinControl* control);
  // The push button that carries the default frame now, or null.
  TButton* FramedButton() const { return FFramed; }
  void UpdateFrames() { NoteFocus(FActiveControl); }
  // The push button that Enter presses: the focused one, else the default
  // button of the visible page; null if none.
  TButton* DefaultButton();

  rtl::TNotifyEvent OnCreate;

protected:
  // Handlers that the form stream's event properties bind by name.
  rtl::TMethodTable FMethods;
  template <typename F> void AddHandler(const std::string& name, void (F::*method)(rtl::TObject*)) {
    F* self = static_cast<F*>(this);
    FMethods.Add<void(rtl::TObject*)>(name,
                                      [self, method](rtl::TObject* s) { (self->*method)(s); });
  }
  void CreateParams(TCreateParams& params) override;
  LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void InitWnd() override;
  // A form keeps its place on the screen; its size follows the client size.
  void ScaleBounds() override;

private:
  // The window size that gives the client size at dpi, with the frame the
  // system draws at frameDpi (the window's own DPI, which an unaware
  // program's window keeps at 96).
  SIZE WindowSize(int32_t dpi, int32_t frameDpi) const;
  void DpiChanged(int32_t dpi, const RECT& suggested);
  // A click that the dialog manager reports to the form for a control of a page.
  bool DialogCommand(WPARAM wParam, LPARAM lParam);
  void MoveFocus(WPARAM wParam, LPARAM lParam);

  TFormBorderStyle FBorderStyle = bsSizeable;
  TBorderIcons FBorderIcons = biSystemMenu | biMinimize | biMaximize;
  TPosition FPosition = poDesigned;
  int32_t FClientWidth = 0;
  int32_t FClientHeight = 0;
  bool FCentred = false;
  TWinControl* FActiveControl = nullptr; // not owned
  TButton* FFramed = nullptr;            // not owned
};

// The DPI a window is shown at: its monitor's where the system tells each
// monitor's, else the screen's.
int32_t WindowPixelsPerInch(HWND wnd);

// Whether a form is moving the default frame right now.
bool SettingButtonFrames();

// The first form read; closing it ends the program.
extern TForm* MainForm;

} // namespace ui
