// Drives the real setup program from another process through window messages
// only, as a user would: starts it, finds the wizard's controls by their text,
// clicks them, sets the folder field, and reads and answers its message boxes.
// Every wait polls with a time-out, so a hung program still ends the caller.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// Wine's view of a Unix path (Z:\...); a Windows path passes unchanged.
std::string WindowsPath(std::string path);

// The text the window manager keeps for the window (captions, labels, buttons).
std::string TextOf(HWND wnd);

// Polls done() every 50 ms; false when seconds pass first.
bool WaitUntil(const std::function<bool()>& done, double seconds);

// A program started detached from the caller's output, ended by force if it
// still runs when dropped.
class TProgram {
public:
  explicit TProgram(const std::string& commandLine);
  ~TProgram();
  TProgram(const TProgram&) = delete;
  TProgram& operator=(const TProgram&) = delete;

  bool Started() const { return FStarted; }
  DWORD Id() const { return FInfo.dwProcessId; }
  bool Running() const;
  // The exit code once the program has ended, or -1 if it runs on.
  long WaitExit(double seconds = 20);

private:
  PROCESS_INFORMATION FInfo{};
  bool FStarted = false;
};

// The setup program, started with the rights of the user who starts it. A
// program still running when this is dropped is ended by force.
class TSetupProcess {
public:
  // Starts program (a Unix or Windows path) and waits for its wizard window.
  explicit TSetupProcess(const std::string& program, int seconds = 60);

  // The wizard window, or null when the program never showed it.
  HWND Wizard() const { return FWizard; }
  DWORD Id() const { return FProgram.Id(); }
  bool Running() const { return FProgram.Running(); }
  // The exit code once the program has ended, or -1 if it runs on.
  long WaitExit(int seconds = 20) { return FProgram.WaitExit(seconds); }

private:
  TProgram FProgram;
  HWND FWizard = nullptr;
};

// The first visible top-level window of the process (any for 0) whose class
// and, if given, caption match.
HWND TopLevel(DWORD processId, const char* cls, const char* caption = nullptr);

// The visible wizard window of the process, or of any process for 0.
HWND FindWizard(DWORD processId = 0);
HWND WaitForWizard(DWORD processId = 0, int seconds = 60);

// The control with this text on the wizard's visible page, or null.
HWND Visible(HWND wizard, const std::string& text);
bool Checked(HWND button);

// Clicks like a user: the button must be visible and enabled. Click returns
// once the program has handled the click; PostClick only queues it, for the
// handlers that open modal boxes or run long ("Start", "Finish").
bool Click(HWND wizard, const std::string& text);
bool PostClick(HWND wizard, const std::string& text);

// The wizard's control with the keyboard focus, once it has one (null after
// seconds).
HWND Focused(HWND wizard, double seconds = 10);
// Types one key at the wizard as the keyboard would, through its message
// loop, and waits until the program has handled it. With shift, Shift is
// held down meanwhile.
void PressKey(HWND wizard, WORD key, bool shift = false);
// Whether the button has the bold default frame.
bool Framed(HWND button);

// The top-level windows of the process that the shell gives a taskbar
// button: visible, and unowned without WS_EX_TOOLWINDOW or with WS_EX_APPWINDOW.
std::vector<HWND> TaskbarWindows(DWORD processId);

// Which page shows: "welcome", "licence", "kind", "folder", "confirmation",
// "finish", or "?" when none can be told.
std::string Page(HWND wizard);
bool WaitForPage(HWND wizard, const std::string& page, double seconds = 30);

// The folder field of the folder page.
HWND FolderField(HWND wizard);
std::string Folder(HWND wizard);
void SetFolder(HWND wizard, const std::string& folder);

// Walks from the welcome page to the confirmation page: ticks "I agree",
// picks the kind of installation by its button's text (empty keeps the one
// preselected) and, unless empty, sets the folder. True when the
// confirmation page shows.
bool WalkToConfirmation(HWND wizard, const std::string& kind = "", const std::string& folder = "");

// The kinds of installation, as their buttons read.
inline constexpr const char* SNewInstall = "New install: Not previous tessel installed";
inline constexpr const char* SReinstall = "ReInstall: Tessel already installed";
inline constexpr const char* SUninstall = "UnInstall: Remove tessel from your computer";

// A message box of the setup program: the system's modal dialog.
struct TMessageBox {
  HWND Window = nullptr;
  std::string Caption;
  std::string Text;
  bool Icon = false;
  explicit operator bool() const { return Window != nullptr; }
};

// The visible message box of the process, or an empty one.
TMessageBox FindMessageBox(DWORD processId);
TMessageBox WaitForMessageBox(DWORD processId, double seconds = 60);
// Presses the box's OK button; true once the box has gone.
bool PressOk(const TMessageBox& box, double seconds = 10);
// Presses the box's button of this id (IDYES, IDNO, ...); true once the box has gone.
bool PressButton(const TMessageBox& box, int id, double seconds = 10);

} // namespace e2e
