// The application object: COM on the GUI thread, the hidden application window
// that owns the forms and dialogs, the message loop and the program's message
// boxes captioned with the application title.
#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

// windows.h maps MessageBox to MessageBoxA; the name is ours here.
#undef MessageBox

namespace ui {

// The window property that marks a form's window for the message loop's
// dialog manager.
inline constexpr const char* SFormProperty = "QlxForm";

class TApplication {
public:
  // Becomes the global Application for its lifetime; only one may exist.
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Creates the application window. COM waits for the first idle pass of Run:
  // the first page needs none of it and shows sooner.
  void Initialize();
  // COM (OLE) on the calling GUI thread, once; whatever needs it before Run
  // has been idle (the folder browser, the shell, screen readers) calls this.
  void InitializeCom();
  // Runs task once Run finds no message waiting, so after the windows shown
  // have been painted; one task per idle pass, in order. An exception from a
  // task is shown like one from a handler.
  void RunWhenIdle(std::function<void()> task);

  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& value);

  // The top-level application window; null before Initialize. It owns the
  // forms and boxes, so none of them has a taskbar button; it is the one
  // button itself, titled with the title, while shown (zero-sized, so it is
  // never seen).
  HWND Handle() const { return FHandle; }
  void SetTaskbarButton(bool shown);

  // Removes, translates and dispatches every waiting message; WM_QUIT marks
  // the application as terminated instead.
  void ProcessMessages();
  // Runs the message loop until WM_QUIT.
  void Run();
  bool Terminated() const { return FTerminated; }
  // Asks the message loop to end once the running handler has returned.
  void Terminate();

  // The plain notice: modal, captioned with the title, no icon, one OK button,
  // centred on the screen.
  void MessageBox(const std::string& text);
  // The same box with "Yes" and "No"; true for "Yes".
  bool Confirm(const std::string& text);
  // The error box for an exception that left a handler.
  void ShowException(const std::exception& error);
  // The error dialog: modal, captioned "Error", error icon, one OK button,
  // centred on the screen.
  void ErrorDialog(const std::string& text);

private:
  int ShowBox(const std::string& text, UINT flags, const char* caption = nullptr);
  void DispatchOne(MSG& msg);
  void RunIdleTask();

  std::string FTitle;
  HWND FHandle = nullptr;
  bool FTerminated = false;
  bool FComInitialized = false;
  bool FComTried = false;
  std::deque<std::function<void()>> FIdleTasks;
};

// Disables the thread's visible windows but keep for its lifetime and gives
// the activation back afterwards. A dialog owned by the application window
// disables only that; the forms it owns would stay usable behind a "modal"
// box or browser.
class TDisableTaskWindows {
public:
  explicit TDisableTaskWindows(HWND keep);
  ~TDisableTaskWindows();
  TDisableTaskWindows(const TDisableTaskWindows&) = delete;
  TDisableTaskWindows& operator=(const TDisableTaskWindows&) = delete;

private:
  static BOOL CALLBACK Collect(HWND wnd, LPARAM self) noexcept;
  HWND FKeep;
  HWND FActive;
  std::vector<HWND> FDisabled;
};

// The one application object, or null when none exists.
extern TApplication* Application;

} // namespace ui
