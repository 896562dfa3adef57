#include "Unit2.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "rtl/SysUtils.h"
#include "ui/Application.h"
#include "ui/SystemLibrary.h"
#include "ui/WinHandles.h"

namespace setup {

using ui::THandle;
using ui::TRegKey;

namespace {

std::string SystemFolder() {
  const std::string folder = ui::SystemFolder();
  if (folder.empty())
    throw rtl::EOSError(rtl::SysErrorMessage(GetLastError()));
  return folder;
}

// --- Registry -----------------------------------------------------------------

constexpr DWORD KeyReadAccess[] = {
    KEY_READ, STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, KEY_QUERY_VALUE};

// Opens the key with the first access the system grants. The text raised is
// that of the code the last attempt returned: the registry functions return
// their code and leave the thread's last error as it was.
TRegKey OpenKeyForReading(HKEY root, const std::string& keyPath) {
  const char* path = keyPath.c_str();
  if (*path == '\\')
    ++path;
  LONG rc = ERROR_SUCCESS;
  for (DWORD access : KeyReadAccess) {
    HKEY key = nullptr;
    rc = RegOpenKeyExA(root, path, 0, access, &key);
    if (rc == ERROR_SUCCESS)
      return TRegKey(key);
  }
  throw rtl::Exception(rtl::SysErrorMessage(static_cast<uint32_t>(rc)));
}

[[noreturn]] void RaiseCantRead() {
  throw rtl::Exception(rtl::SysErrorMessage(ERROR_CANTREAD));
}

[[noreturn]] void RaiseReadFailed(const std::string& valueName) {
  throw rtl::ERegistryException(rtl::Format("Failed to get data for '%s'", valueName.c_str()));
}

[[noreturn]] void RaiseInvalidType(const std::string& valueName) {
  throw rtl::ERegistryException(rtl::Format("Invalid data type for '%s'", valueName.c_str()));
}

struct TValueInfo {
  DWORD Type = REG_NONE;
  DWORD Size = 0;
};

// Type and size of a value, or false when the query fails.
bool QueryValueInfo(HKEY key, const std::string& valueName, TValueInfo& info) {
  return RegQueryValueExA(key, valueName.c_str(), nullptr, &info.Type, nullptr, &info.Size) ==
         ERROR_SUCCESS;
}

// Reads at most capacity bytes of the value, whose type must be one of types.
std::string ReadValueData(HKEY key, const std::string& valueName, DWORD capacity,
                          std::initializer_list<DWORD> types) {
  std::string data(capacity, '\0');
  DWORD type = REG_NONE;
  DWORD count = capacity;
  const LONG rc = RegQueryValueExA(key, valueName.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(data.data()), &count);
  // Binary data that grew since its size was queried no longer fits the branch.
  if (rc == ERROR_MORE_DATA && type == REG_BINARY)
    RaiseInvalidType(valueName);
  if (rc != ERROR_SUCCESS)
    RaiseReadFailed(valueName);
  bool fits = false;
  for (DWORD t : types)
    fits = fits || t == type;
  if (!fits)
    RaiseInvalidType(valueName);
  data.resize(count);
  return data;
}

std::string ReadStringData(HKEY key, const std::string& valueName) {
  TValueInfo info;
  if (!QueryValueInfo(key, valueName, info) || info.Size == 0)
    return {};
  std::string text = ReadValueData(key, valueName, info.Size, {REG_SZ, REG_EXPAND_SZ});
  const size_t nul = text.find('\0');
  if (nul != std::string::npos)
    text.resize(nul);
  return text;
}

int32_t ReadDwordData(HKEY key, const std::string& valueName) {
  const std::string data = ReadValueData(key, valueName, sizeof(uint32_t), {REG_DWORD});
  uint32_t bits = 0;
  for (size_t i = data.size(); i-- > 0;)
    bits = (bits << 8) | static_cast<unsigned char>(data[i]);
  return static_cast<int32_t>(bits);
}

// --- Paths ----------------------------------------------------------------------

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The components between delimiters, empty ones included.
std::vector<std::string> SplitPath(const std::string& path, const char* delimiters = "\\") {
  std::vector<std::string> components;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find_first_of(delimiters, start);
    components.push_back(path.substr(start, end - start));
    if (end == std::string::npos)
      return components;
    start = end + 1;
  }
}

// Why a single folder or file name cannot be used as it stands; empty when it
// can. The system silently drops a trailing dot or blank, so such a name (and
// "." and "..") names something other than what it says.
std::string ComponentProblem(const std::string& component) {
  if (rtl::HasForbiddenFileNameCharacter(component))
    return "a name holds a character that is not allowed";
  if (rtl::IsDeviceFileName(component))
    return component + " is a device name";
  if (!component.empty() && (component.back() == '.' || component.back() == ' '))
    return "a name ends in a dot or a blank";
  return {};
}

// --- Programs -------------------------------------------------------------------

HWND ApplicationWindow() {
  return ui::Application ? ui::Application->Handle() : nullptr;
}

void ShowNotice(const std::string& text) {
  if (ui::Application)
    ui::Application->MessageBox(text);
}

bool ApplicationTerminated() {
  return ui::Application && ui::Application->Terminated();
}

void PumpMessages() {
  if (ui::Application)
    ui::Application->ProcessMessages();
}

// The process has ended: its exit code is no longer STILL_ACTIVE, or, for a
// program whose real exit code happens to be 259, its handle is signalled.
bool ProcessEnded(HANDLE process) {
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code))
    return true;
  return code != STILL_ACTIVE || WaitForSingleObject(process, 0) != WAIT_TIMEOUT;
}

void RunRegistrationTool(const std::wstring& libraryPath, bool unregister, const char* failure) {
  try {
    RunAndWait(RegistrationTool(), RegistrationParameters(libraryPath, unregister));
  } catch (...) {
    try {
      ShowNotice(rtl::Format(failure, WideToAnsi(libraryPath).c_str()));
    } catch (...) {
      // Nothing may leave the registration: the install goes on regardless.
    }
  }
}

// Releases an item list with the allocator the shell documents for it.
struct TItemList {
  explicit TItemList(LPITEMIDLIST list) : Items(list) {}
  ~TItemList() { CoTaskMemFree(Items); }
  TItemList(const TItemList&) = delete;
  TItemList& operator=(const TItemList&) = delete;
  LPITEMIDLIST Items;
};

} // namespace

// --- Registry -------------------------------------------------------------------

TRegistryVariant& ReadRegistryValue(HKEY root, const std::string& keyPath,
                                    const std::string& valueName, TRegistryVariant& value) {
  const TRegKey key = OpenKeyForReading(root, keyPath);
  TValueInfo info;
  if (!QueryValueInfo(key.Get(), valueName, info))
    RaiseCantRead();
  switch (info.Type) {
  case REG_SZ:
  case REG_EXPAND_SZ:
    value = ReadStringData(key.Get(), valueName);
    break;
  case REG_DWORD:
    value = ReadDwordData(key.Get(), valueName);
    break;
  case REG_BINARY: {
    if (!QueryValueInfo(key.Get(), valueName, info))
      RaiseCantRead();
    std::string data = ReadValueData(key.Get(), valueName, info.Size, {REG_BINARY});
    if (data.size() != info.Size)
      RaiseCantRead();
    value = std::move(data);
    break;
  }
  default:
    RaiseCantRead();
  }
  return value;
}

std::wstring GetProgramFilesDir() {
  TRegistryVariant value;
  ReadRegistryValue(HKEY_LOCAL_MACHINE, SCurrentVersionKey, SProgramFilesDirValue, value);
  if (const auto* number = std::get_if<int32_t>(&value)) {
    // Widened from the narrow digits: std::to_wstring formats through the
    // wide printf, which the program would carry for this alone.
    const std::string digits = std::to_string(*number);
    return std::wstring(digits.begin(), digits.end());
  }
  if (const auto* text = std::get_if<std::string>(&value))
    return AnsiToWide(*text);
  return {};
}

std::wstring GetInstalledServerPath() {
  const std::string path = ReadRegistryString(SMachineInProcServerKey, "", HKEY_LOCAL_MACHINE);
  return IsProductServerPath(path) ? AnsiToWide(path) : std::wstring();
}

bool IsProductServerPath(const std::string& path) {
  std::string rest;
  size_t minimumComponents = 1;
  if (path.size() > 3 && IsAsciiLetter(path[0]) && path[1] == ':' && path[2] == '\\') {
    rest = path.substr(3);
  } else if (path.size() > 2 && path[0] == '\\' && path[1] == '\\') {
    rest = path.substr(2);
    minimumComponents = 3; // server, share, file
  } else {
    return false;
  }
  const std::vector<std::string> components = SplitPath(rest);
  if (components.size() < minimumComponents)
    return false;
  for (const std::string& component : components)
    if (component.empty() || !ComponentProblem(component).empty())
      return false;
  return rtl::SameText(components.back(), SServerFileName);
}

std::string ReadRegistryString(const std::string& keyPath, const std::string& valueName,
                               HKEY root) {
  HKEY raw = nullptr;
  if (RegOpenKeyA(root, keyPath.c_str(), &raw) != ERROR_SUCCESS)
    return {};
  const TRegKey key(raw);
  char buffer[256];
  DWORD count = sizeof buffer;
  if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(buffer), &count) != ERROR_SUCCESS ||
      count <= 1)
    return {};
  // The byte dropped is the terminating NUL of a string stored with one.
  return std::string(buffer, count - 1);
}

void WriteRegistryString(const std::string& keyPath, const std::string& valueName,
                         const std::string& value, HKEY root) {
  char noClass[] = "";
  HKEY raw = nullptr;
  LONG rc = RegCreateKeyExA(root, keyPath.c_str(), 0, noClass, 0, KEY_READ | KEY_WRITE, nullptr,
                            &raw, nullptr);
  if (rc == ERROR_SUCCESS) {
    const TRegKey key(raw);
    rc = RegSetValueExA(key.Get(), valueName.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
  }
  if (rc != ERROR_SUCCESS)
    throw rtl::EOleRegistrationError("Error creating system registry entry");
}

void DeleteRegistryKey(const std::string& keyPath, HKEY root) {
  RegDeleteKeyA(root, keyPath.c_str());
}

// --- Installation folder and stored file names ------------------------------------

std::string InstallFolderProblem(const std::string& folder, size_t longestFileName) {
  const auto delimiter = [](char c) { return c == '\\' || c == '/'; };
  std::string rest;
  size_t rootNames = 0;
  if (folder.size() >= 3 && IsAsciiLetter(folder[0]) && folder[1] == ':' && delimiter(folder[2])) {
    rest = folder.substr(3);
  } else if (folder.size() > 2 && delimiter(folder[0]) && delimiter(folder[1])) {
    rest = folder.substr(2);
    rootNames = 2; // server and share
  } else {
    return "not a full path";
  }
  const std::vector<std::string> names = SplitPath(rest, "\\/");
  for (size_t i = 0; i < names.size(); ++i) {
    // Doubled and trailing delimiters are harmless, except where the server
    // and share names belong.
    if (names[i].empty() && i >= rootNames)
      continue;
    if (names[i].empty())
      return "not a full path";
    if (std::string problem = ComponentProblem(names[i]); !problem.empty())
      return problem;
  }
  if (names.size() < rootNames)
    return "not a full path";
  // A folder name leaves room for an 8.3 name; each file path fits MAX_PATH.
  const size_t bare = delimiter(folder.back()) ? folder.size() - 1 : folder.size();
  if (bare > MAX_PATH - 12 - 1 || bare + 1 + longestFileName >= MAX_PATH)
    return "too long";
  return {};
}

std::string InvalidFolderText(const std::string& folder, const std::string& problem) {
  return "The installation folder is not valid: " + folder + " (" + problem + ").";
}

bool IsUsableFileName(const std::string& fileName) {
  return !fileName.empty() && ComponentProblem(fileName).empty();
}

// --- Other programs and the shell ---------------------------------------------------

bool RunAndWait(const std::string& program, const std::string& parameters) {
  if (ui::Application)
    ui::Application->InitializeCom(); // the shell may hand the start to COM objects
  // Started in the system folder: the current folder (the download folder) is
  // searched for the DLLs of the program started, and is no one's business.
  const std::string folder = SystemFolder();
  SHELLEXECUTEINFOA request{};
  request.cbSize = sizeof request;
  // No UI: the system's "cannot find" box would be a message of our own
  // showing on a failure that is reported as false, and it blocks the wait.
  request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  request.hwnd = ApplicationWindow();
  request.lpFile = program.c_str();
  request.lpParameters = parameters.c_str();
  request.lpDirectory = folder.c_str();
  request.nShow = SW_HIDE;
  if (!ShellExecuteExA(&request))
    return false;
  const THandle process(request.hProcess);
  // Polls on purpose: the wizard's windows stay live and a quit request ends
  // the wait at the next pass.
  for (;;) {
    PumpMessages();
    if (!process || ProcessEnded(process.Get()) || ApplicationTerminated())
      break;
  }
  return true;
}

std::string RegistrationTool() {
  return SystemFolder() + "\\regsvr32.exe";
}

std::string RegistrationParameters(const std::wstring& libraryPath, bool unregister) {
  const std::wstring text = (unregister ? L"/s /u \"" : L"/s \"") + libraryPath + L"\"";
  return WideToAnsi(text);
}

void RegisterServer(const std::wstring& libraryPath) {
  RunRegistrationTool(libraryPath, false, "Unable to register %s");
}

void UnregisterServer(const std::wstring& libraryPath) {
  RunRegistrationTool(libraryPath, true, "Unable to unregister %s");
}

void RestartShell(bool showNotice) {
  if (showNotice)
    ShowNotice("Shell restart needed...");
  const HWND desktop = FindWindowA("Progman", nullptr);
  if (!desktop)
    return;
  DWORD processId = 0;
  GetWindowThreadProcessId(desktop, &processId);
  // Never our own process, and never what a missing id might open.
  if (processId == 0 || processId == GetCurrentProcessId())
    return;
  const THandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
  if (process)
    TerminateProcess(process.Get(), 0);
}

// --- Folder browser --------------------------------------------------------------

POINT CenteredBrowsePosition(const RECT& workArea, const RECT& dialog) {
  const LONG w = dialog.right - dialog.left;
  const LONG h = dialog.bottom - dialog.top;
  // C++ division truncates toward zero, as the placement requires.
  return POINT{(workArea.right - workArea.left) / 2 - w / 2,
               (workArea.bottom - workArea.top) / 2 - h / 2};
}

int CALLBACK CenterBrowseDialog(HWND dialog, UINT message, LPARAM, LPARAM) {
  if (message != BFFM_INITIALIZED)
    return 0;
  RECT workArea{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
  RECT rect{};
  GetWindowRect(dialog, &rect);
  const POINT at = CenteredBrowsePosition(workArea, rect);
  MoveWindow(dialog, at.x, at.y, rect.right - rect.left, rect.bottom - rect.top, TRUE);
  return 0;
}

std::string SelectFolder(const std::string& title, uint32_t flags, std::string& folder) {
  folder.clear();
  char displayName[MAX_PATH + 1] = {};
  BROWSEINFOA request{};
  request.hwndOwner = ApplicationWindow();
  request.pszDisplayName = displayName;
  request.lpszTitle = title.c_str();
  request.ulFlags = flags;
  request.lpfn = CenterBrowseDialog;
  // The browser's owner is the application window, which the system disables;
  // the wizard it owns is disabled here, so the browser is modal for it too.
  const ui::TDisableTaskWindows modal(request.hwndOwner);
  if (ui::Application)
    ui::Application->InitializeCom(); // the browser is made of COM objects
  const TItemList chosen(SHBrowseForFolderA(&request));
  if (!chosen.Items)
    return folder;
  char path[MAX_PATH + 1] = {};
  // Without a path for the item (a virtual folder) the folder stays empty.
  SHGetPathFromIDListA(chosen.Items, path);
  folder.assign(path, strnlen(path, sizeof path));
  return folder;
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// --- Uninstall --------------------------------------------------------------------

void UnregisterAndRestartShell(const std::wstring& library) {
  UnregisterServer(library);
  RestartShell(true);
  Sleep(SShellRestartWait);
}

std::string InstalledFolderOf(const std::string& library) {
  const size_t cut = library.find_last_of("\\:");
  return cut == std::string::npos ? std::string() : library.substr(0, cut + 1);
}

std::string DeleteProductFiles(const std::string& folder, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const std::string path = folder + name;
    if (!DeleteFileA(path.c_str()) && FileExists(path))
      return path;
  }
  return {};
}

void RemoveUninstallerFolderAndRecord(const std::string& folder) {
  DeleteFileA((folder + "Uninstall.exe").c_str());
  std::string bare = folder;
  if (!bare.empty() && bare.back() == '\\')
    bare.pop_back();
  RemoveDirectoryA(bare.c_str());
  DeleteRegistryKey(SUninstallKey, HKEY_LOCAL_MACHINE);
}

std::string AccessDeniedText(const std::string& path) {
  return "Access denied...\r\nFilename: " + path + "\r\nInstallation terminated...";
}

// --- Text conversions -----------------------------------------------------------

std::wstring AnsiToWide(const std::string& text) {
  if (text.empty())
    return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), n);
  return wide;
}

std::string WideToAnsi(const std::wstring& text) {
  if (text.empty())
    return {};
  const int size = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), size, ansi.data(), n, nullptr, nullptr);
  return ansi;
}

} // namespace setup
