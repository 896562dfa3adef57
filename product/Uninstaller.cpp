// The product's uninstaller proper. The part in the installation folder
// (uninstall.cpp) writes this program into a private folder under the user's
// temporary folder and starts it there with a handle on itself and the folder
// it ran from; this removes the product with the setup program's own helpers,
// in the same order and by the same rules as the setup's uninstall.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

// The wizard's texts only: its code is not linked in.
#include "setup/Unit1.h"
#include "setup/Unit2.h"
#include "ui/Application.h"

namespace {

constexpr const char* SQuestion = "Remove QLX Tessel 3 Starter Edition from your computer?";
constexpr const char* SWrongFolder =
    "This uninstaller does not belong to the installed QLX Tessel 3 Starter Edition: nothing was "
    "removed.";
// Longest wait for the part in the installation folder to end: its file is
// one of those to delete.
constexpr DWORD SStarterWait = 30000;
// The product's files, as the setup program's payload names them.
const std::vector<std::string> SProductFiles = {"QLX_Tessel_3.dll", "sqlite3.dll", "uninstall.exe",
                                                "Msvcrt.dll"};

// DLLs from System32 only, as in the setup program.
void RestrictDllSearch() {
  using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
  auto set = reinterpret_cast<TSetDefaultDllDirectories>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (set)
    set(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryA("");
}

struct TArguments {
  HANDLE Starter = nullptr; // the part that started this one, to wait for
  std::string Folder;       // the folder that part ran from
};

std::string OwnFolder() {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return n == 0 || n >= sizeof path ? std::string() : setup::InstalledFolderOf(path);
}

// Without the starter's arguments (this program started by hand), the folder
// it runs from is its own, which is never the product's.
TArguments ParseArguments() {
  TArguments arguments;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv && count == 3) {
    arguments.Starter = reinterpret_cast<HANDLE>(std::wcstoul(argv[1], nullptr, 10));
    arguments.Folder = setup::WideToAnsi(argv[2]);
  } else {
    arguments.Folder = OwnFolder();
  }
  LocalFree(argv);
  return arguments;
}

// A folder's full, long form without a trailing delimiter, for comparing.
std::string Canonical(const std::string& folder) {
  char full[MAX_PATH * 2] = {};
  DWORD n = GetFullPathNameA(folder.c_str(), sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full)
    return {};
  char longer[MAX_PATH * 2] = {};
  const DWORD m = GetLongPathNameA(full, longer, sizeof longer);
  std::string result = m == 0 || m >= sizeof longer ? std::string(full, n) : std::string(longer, m);
  while (!result.empty() && result.back() == '\\')
    result.pop_back();
  return result;
}

bool SameFolder(const std::string& a, const std::string& b) {
  const std::string x = Canonical(a);
  return !x.empty() && lstrcmpiA(x.c_str(), Canonical(b).c_str()) == 0;
}

void Finish(const char* text) {
  ui::Application->MessageBox(text);
}

void Uninstall(const TArguments& arguments) {
  const std::wstring library = setup::GetInstalledServerPath();
  if (library.empty())
    return Finish(setup::SNotInstalled);
  const std::string folder = setup::InstalledFolderOf(setup::WideToAnsi(library));
  if (folder.empty() || !SameFolder(folder, arguments.Folder))
    return Finish(SWrongFolder);
  if (arguments.Starter)
    WaitForSingleObject(arguments.Starter, SStarterWait);
  setup::UnregisterAndRestartShell(library);
  const std::string inUse = setup::DeleteProductFiles(folder, SProductFiles);
  if (!inUse.empty())
    return Finish(setup::AccessDeniedText(inUse).c_str());
  setup::RemoveUninstallerFolderAndRecord(folder);
  Finish(setup::SUninstallDone);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  const TArguments arguments = ParseArguments();
  ui::TApplication application;
  try {
    application.Initialize();
    application.SetTitle("QLXT3SE");
    if (application.Confirm(SQuestion))
      Uninstall(arguments);
  } catch (const std::exception& e) {
    application.ShowException(e);
    return 1;
  }
  if (arguments.Starter)
    CloseHandle(arguments.Starter);
  return 0;
}
