#include "ComCtrls.h"

#include <richedit.h>

#include "SystemLibrary.h"
#include "rtl/SysUtils.h"

namespace ui {

void TStrings::SetStrings(std::vector<std::string> lines) {
  FStrings = std::move(lines);
  if (OnChange)
    OnChange();
}

std::string TStrings::Text() const {
  std::string text;
  for (const std::string& line : FStrings)
    text += line + "\r\n";
  return text;
}

TRichEdit::TRichEdit(rtl::TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 185, 89);
  SetTabStop(true);
  SetColor(clWindow);
  FLines.OnChange = [this] {
    if (HandleAllocated())
      SetWindowTextA(Handle(), FLines.Text().c_str());
  };
}

void TRichEdit::SetReadOnly(bool value) {
  FReadOnly = value;
  if (HandleAllocated())
    SendMessageA(Handle(), EM_SETREADONLY, value, 0);
}

void TRichEdit::CreateParams(TCreateParams& params) {
  // By full path: where the loader cannot narrow its search, the program's
  // own folder would come first.
  static const HMODULE library = LoadSystemLibrary("riched20.dll");
  if (!library)
    throw rtl::EOSError(rtl::SysErrorMessage(GetLastError()));
  TWinControl::CreateParams(params);
  params.WindowClass = RICHEDIT_CLASSA;
  params.Style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
  if (FScrollBars == ssVertical || FScrollBars == ssBoth)
    params.Style |= WS_VSCROLL;
  if (FScrollBars == ssHorizontal || FScrollBars == ssBoth)
    params.Style |= WS_HSCROLL | ES_AUTOHSCROLL;
  if (FReadOnly)
    params.Style |= ES_READONLY;
  if (FBorderStyle == bsSingleBorder)
    params.ExStyle |= WS_EX_CLIENTEDGE;
}

void TRichEdit::InitWnd() {
  SendMessageA(Handle(), EM_SETBKGNDCOLOR, 0, static_cast<LPARAM>(ColorToRGB(Color())));
  SetWindowTextA(Handle(), FLines.Text().c_str());
}

} // namespace ui
