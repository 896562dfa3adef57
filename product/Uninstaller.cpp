// The product's uninstaller proper. The part in the installation folder
// (uninstall.cpp) writes this program into a private folder under the Windows
// folder's Temp and starts it there with a handle on itself and the folder
// it ran from; this removes the product with the setup program's own helpers,
// in the same order and by the same rules as the setup's uninstall, holding
// the product's change lock from its question to its end.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "rtl/SysUtils.h"
#include "setup/ChangeLock.h"
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
// Longest wait for the change lock: a change that has just ended (an
// uninstaller whose last box was answered) lets go of it a moment later.
constexpr DWORD SLockWait = 10000;
constexpr DWORD SLockPoll = 250;
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

// Drops the trailing delimiters, walking the text by characters of the ANSI
// code page: the second byte of a double-byte character is no delimiter.
void DropTrailingDelimiters(std::string& path) {
  for (;;) {
    size_t last = std::string::npos;
    for (size_t i = 0; i < path.size();
         i += IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size() ? 2 : 1)
      last = i;
    if (last == std::string::npos || last + 1 != path.size() || path[last] != '\\')
      return;
    path.pop_back();
  }
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
  DropTrailingDelimiters(result);
  return result;
}

bool SameFolder(const std::string& a, const std::string& b) {
  const std::string x = Canonical(a);
  return !x.empty() && lstrcmpiA(x.c_str(), Canonical(b).c_str()) == 0;
}

// The change lock, taken as soon as no other change holds it, or not held
// when one still does after SLockWait.
std::unique_ptr<setup::TChangeLock> TakeChangeLock() {
  for (DWORD waited = 0;; waited += SLockPoll) {
    auto lock = std::make_unique<setup::TChangeLock>();
    if (lock->Held() || waited >= SLockWait)
      return lock;
    Sleep(SLockPoll);
  }
}

void Finish(const char* text) {
  ui::Application->MessageBox(text);
}

// The folder, with its delimiter, of the Uninstall.exe that the uninstall
// record names as the setup writes it ("\"<folder>\\Uninstall.exe\""); empty
// when it names anything else. Taken as untrusted as a registered library's
// path, and held to the same rule.
std::string RecordedFolder() {
  std::string command =
      setup::ReadRegistryString(setup::SUninstallKey, "UninstallString", HKEY_LOCAL_MACHINE);
  if (command.size() > 2 && command.front() == '"' && command.back() == '"')
    command = command.substr(1, command.size() - 2);
  const std::string folder = setup::InstalledFolderOf(command);
  if (folder.empty() || !rtl::SameText(command.substr(folder.size()), "Uninstall.exe") ||
      !setup::IsProductServerPath(folder + setup::SServerFileName))
    return {};
  return folder;
}

// Removes the product from the folder the starter ran from, and only there.
// Without a registered library (an uninstall stopped by a file in use has
// unregistered it already) the uninstall record names the folder, so that
// Windows' list never keeps an entry that nothing removes.
void Uninstall(const TArguments& arguments) {
  const std::wstring library = setup::GetInstalledServerPath();
  const std::string folder =
      library.empty() ? RecordedFolder() : setup::InstalledFolderOf(setup::WideToAnsi(library));
  if (folder.empty() || !SameFolder(folder, arguments.Folder))
    return Finish(library.empty() ? setup::SNotInstalled : SWrongFolder);
  if (arguments.Starter)
    WaitForSingleObject(arguments.Starter, SStarterWait);
  if (!library.empty())
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
    // Taken before the question: a second uninstaller or a setup's "Start"
    // must not change the product between the answer and the end.
    const std::unique_ptr<setup::TChangeLock> lock = TakeChangeLock();
    if (!lock->Held())
      application.MessageBox(setup::SChangeLockBusy);
    else if (application.Confirm(SQuestion))
      Uninstall(arguments);
  } catch (const std::exception& e) {
    application.ShowException(e);
    return 1;
  }
  if (arguments.Starter)
    CloseHandle(arguments.Starter);
  return 0;
}
