#include "SetupDriver.h"

#include <chrono>
#include <thread>

namespace e2e {

namespace {

// Wine's message box keeps its text and its icon in controls of these ids.
constexpr int kBoxTextId = 0xFFFF;
constexpr int kBoxIconId = 0x0440;

std::string ClassOf(HWND wnd) {
  char name[64] = {};
  return std::string(name, static_cast<size_t>(GetClassNameA(wnd, name, sizeof name)));
}

DWORD ProcessOf(HWND wnd) {
  DWORD id = 0;
  GetWindowThreadProcessId(wnd, &id);
  return id;
}

struct TTopLevelSearch {
  DWORD ProcessId;
  const char* Class;
  const char* Caption;
  HWND Found = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND wnd, LPARAM param) {
  auto* search = reinterpret_cast<TTopLevelSearch*>(param);
  if (!IsWindowVisible(wnd) || ClassOf(wnd) != search->Class)
    return TRUE;
  if (search->ProcessId != 0 && ProcessOf(wnd) != search->ProcessId)
    return TRUE;
  if (search->Caption && TextOf(wnd) != search->Caption)
    return TRUE;
  search->Found = wnd;
  return FALSE;
}

struct TChildSearch {
  std::string Text;
  HWND Found = nullptr;
};

BOOL CALLBACK FindVisibleChild(HWND wnd, LPARAM param) {
  auto* search = reinterpret_cast<TChildSearch*>(param);
  if (IsWindowVisible(wnd) && TextOf(wnd) == search->Text) {
    search->Found = wnd;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK FindEdit(HWND wnd, LPARAM param) {
  if (lstrcmpiA(ClassOf(wnd).c_str(), "Edit") != 0)
    return TRUE;
  *reinterpret_cast<HWND*>(param) = wnd;
  return FALSE;
}

// A button the user could press now.
HWND Pressable(HWND wizard, const std::string& text) {
  const HWND button = Visible(wizard, text);
  return button && IsWindowEnabled(button) ? button : nullptr;
}

// The manifest asks for elevation; Wine's elevated start of a child process
// fails under qemu, and the program needs no rights beyond the caller's.
std::string AsInvoker(const std::string& program) {
  SetEnvironmentVariableA("__COMPAT_LAYER", "RunAsInvoker");
  return "\"" + WindowsPath(program) + "\"";
}

} // namespace

HWND TopLevel(DWORD processId, const char* cls, const char* caption) {
  TTopLevelSearch search{processId, cls, caption};
  EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

std::string WindowsPath(std::string path) {
  if (path.empty() || path[0] != '/')
    return path;
  for (char& c : path)
    if (c == '/')
      c = '\\';
  return "Z:" + path;
}

std::string TextOf(HWND wnd) {
  char text[1024] = {};
  return std::string(text, static_cast<size_t>(GetWindowTextA(wnd, text, sizeof text)));
}

bool WaitUntil(const std::function<bool()>& done, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (done())
      return true;
    if (std::chrono::steady_clock::now() >= end)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// --- The program ------------------------------------------------------------------

TProgram::TProgram(const std::string& commandLine) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  std::string command = commandLine;
  // Detached from the caller's output: a program left running (by a crashed
  // caller) would otherwise keep it open, and ctest waits for that to close.
  FStarted = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                            nullptr, nullptr, &si, &FInfo) != FALSE;
}

TProgram::~TProgram() {
  if (!FStarted)
    return;
  if (Running()) {
    TerminateProcess(FInfo.hProcess, 99);
    WaitForSingleObject(FInfo.hProcess, 10000);
  }
  CloseHandle(FInfo.hThread);
  CloseHandle(FInfo.hProcess);
}

bool TProgram::Running() const {
  return FStarted && WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT;
}

long TProgram::WaitExit(double seconds) {
  if (!FStarted ||
      WaitForSingleObject(FInfo.hProcess, static_cast<DWORD>(seconds * 1000)) != WAIT_OBJECT_0)
    return -1;
  DWORD code = 0;
  GetExitCodeProcess(FInfo.hProcess, &code);
  return static_cast<long>(code);
}

TSetupProcess::TSetupProcess(const std::string& program, int seconds)
    : FProgram(AsInvoker(program)) {
  if (FProgram.Started())
    FWizard = WaitForWizard(FProgram.Id(), seconds);
}

// --- The wizard -------------------------------------------------------------------

HWND FindWizard(DWORD processId) {
  return TopLevel(processId, "QlxTForm1", "QLX Installer");
}

HWND WaitForWizard(DWORD processId, int seconds) {
  HWND wizard = nullptr;
  WaitUntil([&] { return (wizard = FindWizard(processId)) != nullptr; }, seconds);
  return wizard;
}

HWND Visible(HWND wizard, const std::string& text) {
  if (!wizard)
    return nullptr;
  TChildSearch search{text};
  EnumChildWindows(wizard, FindVisibleChild, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

bool Checked(HWND button) {
  return button && SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Click(HWND wizard, const std::string& text) {
  const HWND button = Pressable(wizard, text);
  if (button)
    SendMessageA(button, BM_CLICK, 0, 0);
  return button != nullptr;
}

bool PostClick(HWND wizard, const std::string& text) {
  const HWND button = Pressable(wizard, text);
  return button && PostMessageA(button, BM_CLICK, 0, 0);
}

HWND Focused(HWND wizard, double seconds) {
  HWND focus = nullptr;
  WaitUntil(
      [&] {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (GetGUIThreadInfo(GetWindowThreadProcessId(wizard, nullptr), &info))
          focus = info.hwndFocus;
        return focus != nullptr && IsChild(wizard, focus);
      },
      seconds);
  return focus;
}

void PressKey(HWND wizard, WORD key, bool shift) {
  // Real keyboard input, so the program's key state (Shift) is real too; it
  // goes to the foreground window's focus.
  SetForegroundWindow(wizard);
  std::vector<INPUT> inputs;
  const auto add = [&](WORD vk, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(input);
  };
  if (shift)
    add(VK_SHIFT, false);
  add(key, false);
  add(key, true);
  if (shift)
    add(VK_SHIFT, true);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  // Input is taken after sent and posted messages: give it a moment, then
  // wait for the program to be idle again.
  Sleep(300);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(wizard, WM_NULL, 0, 0, SMTO_BLOCK, 20000, &ignored);
}

bool Framed(HWND button) {
  return (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

namespace {

BOOL CALLBACK CollectTaskbarWindow(HWND wnd, LPARAM data) {
  auto* search = reinterpret_cast<std::pair<DWORD, std::vector<HWND>>*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  const LONG ex = GetWindowLongA(wnd, GWL_EXSTYLE);
  const bool unowned = GetWindow(wnd, GW_OWNER) == nullptr && !(ex & WS_EX_TOOLWINDOW);
  if (pid == search->first && IsWindowVisible(wnd) && (unowned || (ex & WS_EX_APPWINDOW)))
    search->second.push_back(wnd);
  return TRUE;
}

} // namespace

std::vector<HWND> TaskbarWindows(DWORD processId) {
  std::pair<DWORD, std::vector<HWND>> search{processId, {}};
  EnumWindows(CollectTaskbarWindow, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

std::string Page(HWND wizard) {
  if (Visible(wizard, "I agree"))
    return "licence";
  if (Visible(wizard, SNewInstall))
    return "kind";
  if (Visible(wizard, "Browse"))
    return "folder";
  if (Visible(wizard, "Start"))
    return "confirmation";
  if (Visible(wizard, "Finish"))
    return "finish";
  if (Visible(wizard, "Next") && Visible(wizard, "Exit") && !Visible(wizard, "Back"))
    return "welcome";
  return "?";
}

bool WaitForPage(HWND wizard, const std::string& page, double seconds) {
  return WaitUntil([&] { return Page(wizard) == page; }, seconds);
}

HWND FolderField(HWND wizard) {
  HWND found = nullptr;
  if (wizard)
    EnumChildWindows(wizard, FindEdit, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::string Folder(HWND wizard) {
  // An edit control keeps its text itself: ask it, not the window manager.
  char text[MAX_PATH * 2] = {};
  const LRESULT n =
      SendMessageA(FolderField(wizard), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return std::string(text, static_cast<size_t>(n));
}

void SetFolder(HWND wizard, const std::string& folder) {
  SendMessageA(FolderField(wizard), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
}

bool WalkToConfirmation(HWND wizard, const std::string& kind, const std::string& folder) {
  if (!Click(wizard, "Next") || !Click(wizard, "I agree") || !Click(wizard, "Next"))
    return false;
  if (!kind.empty() && !Click(wizard, kind))
    return false;
  if (!Click(wizard, "Next"))
    return false;
  if (Page(wizard) == "folder") {
    if (!folder.empty())
      SetFolder(wizard, folder);
    if (!Click(wizard, "Next"))
      return false;
  }
  return Page(wizard) == "confirmation";
}

// --- Message boxes ----------------------------------------------------------------

TMessageBox FindMessageBox(DWORD processId) {
  TMessageBox box;
  box.Window = TopLevel(processId, "#32770", nullptr);
  if (!box.Window)
    return box;
  box.Caption = TextOf(box.Window);
  box.Text = TextOf(GetDlgItem(box.Window, kBoxTextId));
  const HWND icon = GetDlgItem(box.Window, kBoxIconId);
  // The control stays without an icon when the box has none.
  box.Icon = icon && IsWindowVisible(icon) && SendMessageA(icon, STM_GETICON, 0, 0) != 0;
  return box;
}

TMessageBox WaitForMessageBox(DWORD processId, double seconds) {
  TMessageBox box;
  // A box found is read once it has its text: it fills its controls as it
  // comes up.
  WaitUntil(
      [&] {
        box = FindMessageBox(processId);
        return box && !box.Text.empty();
      },
      seconds);
  return box.Text.empty() ? TMessageBox{} : box;
}

bool PressOk(const TMessageBox& box, double seconds) {
  return PressButton(box, IDOK, seconds);
}

bool PressButton(const TMessageBox& box, int id, double seconds) {
  if (!box)
    return false;
  PostMessageA(box.Window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box.Window, id)));
  return WaitUntil([&] { return !IsWindow(box.Window) || !IsWindowVisible(box.Window); }, seconds);
}

} // namespace e2e
