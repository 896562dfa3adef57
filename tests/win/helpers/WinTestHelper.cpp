// Started by the Win32 tests in place of other programs.
//   --sleep MS     waits, then ends with code 0
//   --progman      owns a top-level window of class "Progman" until ended
//   --folder       records the folder it was started in instead of arguments
//   anything else  ends at once
// With QLX_HELPER_RECORD set, every argument as CommandLineToArgvW splits it is
// written to that file, one a line, when the helper ends by itself.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void RecordArguments() {
  char file[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("QLX_HELPER_RECORD", file, sizeof file))
    return;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv)
    return;
  char folder[MAX_PATH] = {};
  if (argc == 2 && lstrcmpW(argv[1], L"--folder") == 0)
    GetCurrentDirectoryA(sizeof folder, folder);
  if (FILE* out = std::fopen(file, "w")) {
    if (folder[0])
      std::fprintf(out, "%s\n", folder);
    for (int i = 1; i < argc && !folder[0]; ++i) {
      char line[1024] = {};
      WideCharToMultiByte(CP_ACP, 0, argv[i], -1, line, sizeof line - 1, nullptr, nullptr);
      std::fprintf(out, "%s\n", line);
    }
    std::fclose(out);
  }
  LocalFree(argv);
}

int OwnProgman() {
  WNDCLASSA cls{};
  cls.lpfnWndProc = DefWindowProcA;
  cls.hInstance = GetModuleHandleA(nullptr);
  cls.lpszClassName = "Progman";
  RegisterClassA(&cls);
  if (!CreateWindowExA(0, "Progman", "Program Manager", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                       cls.hInstance, nullptr))
    return 2;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0)
    DispatchMessageA(&msg);
  return 1;
}

} // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--progman") == 0)
    return OwnProgman();
  if (argc > 2 && std::strcmp(argv[1], "--sleep") == 0)
    Sleep(static_cast<DWORD>(std::atoi(argv[2])));
  RecordArguments();
  return 0;
}
