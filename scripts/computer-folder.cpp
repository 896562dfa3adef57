// Opens the real computer folder in Wine's explorer for scripts/make-content.sh
// and writes "ready" to the file named on the command line once it shows, at
// the size of the viewer's picture. Wine's explorer takes no folder but a
// path on its command line, so it starts at C:\ and goes up one level, as its
// "Up" button does.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int SUpButton = 2; // the command of the "Up" button of Wine's explorer
constexpr int SWidth = 500, SHeight = 434;

HWND WaitForExplorer(const char* title) {
  for (int i = 0; i < 240; ++i, Sleep(250)) {
    const HWND wnd = FindWindowA("ExplorerWClass", nullptr);
    char text[128] = {};
    if (wnd && IsWindowVisible(wnd) && GetWindowTextA(wnd, text, sizeof text) &&
        (!title || std::strcmp(text, title) == 0))
      return wnd;
  }
  return nullptr;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2)
    return 2;
  char commandLine[] = "explorer.exe /root,C:\\";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return 1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  HWND wnd = WaitForExplorer(nullptr);
  if (!wnd)
    return 1;
  PostMessageA(wnd, WM_COMMAND, MAKEWPARAM(SUpButton, 0), 0);
  wnd = WaitForExplorer("My Computer");
  if (!wnd)
    return 1;
  SetWindowPos(wnd, HWND_TOP, 0, 0, SWidth, SHeight, SWP_SHOWWINDOW);
  Sleep(3000); // the list fills and paints
  if (FILE* f = std::fopen(argv[1], "w")) {
    std::fputs("ready\n", f);
    std::fclose(f);
  }
  return 0;
}
