#include "Scenario.h"

#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <initializer_list>

namespace e2e {

namespace {

struct THandle {
  HANDLE H;
  explicit THandle(HANDLE h) : H(h) {}
  ~THandle() {
    if (H && H != INVALID_HANDLE_VALUE)
      CloseHandle(H);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  bool Valid() const { return H && H != INVALID_HANDLE_VALUE; }
};

struct TKey {
  HKEY H = nullptr;
  ~TKey() {
    if (H)
      RegCloseKey(H);
  }
};

std::string ClassOf(HWND wnd) {
  char name[64] = {};
  return std::string(name, static_cast<size_t>(GetClassNameA(wnd, name, sizeof name)));
}

void DumpInto(HKEY key, const std::string& prefix, std::map<std::string, std::string>& out) {
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    BYTE data[2048];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
      break;
    out[prefix + name] =
        std::to_string(type) + ":" + std::string(reinterpret_cast<const char*>(data), dataSize);
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    TKey sub;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub.H) == ERROR_SUCCESS)
      DumpInto(sub.H, prefix + name + "\\", out);
  }
}

// Processes that the scenarios start and that an earlier, interrupted
// scenario may have left running.
BOOL CALLBACK CollectLeftOver(HWND wnd, LPARAM param) {
  const std::string cls = ClassOf(wnd);
  if (cls != "QlxTForm1" && cls != "Progman" && cls != "TApplication")
    return TRUE;
  DWORD id = 0;
  GetWindowThreadProcessId(wnd, &id);
  if (id != 0 && id != GetCurrentProcessId())
    reinterpret_cast<std::vector<DWORD>*>(param)->push_back(id);
  return TRUE;
}

void EndLeftOverPrograms() {
  std::vector<DWORD> ids;
  EnumWindows(CollectLeftOver, reinterpret_cast<LPARAM>(&ids));
  for (DWORD id : ids) {
    const THandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!process.Valid())
      continue;
    TerminateProcess(process.H, 98);
    WaitForSingleObject(process.H, 10000);
  }
}

struct TWindowSearch {
  const char* Class;
  DWORD ProcessId;
  HWND Found = nullptr;
};

BOOL CALLBACK FindWindowOfProcess(HWND wnd, LPARAM param) {
  auto* search = reinterpret_cast<TWindowSearch*>(param);
  DWORD id = 0;
  GetWindowThreadProcessId(wnd, &id);
  if (id != search->ProcessId || ClassOf(wnd) != search->Class)
    return TRUE;
  search->Found = wnd;
  return FALSE;
}

} // namespace

// --- Files ----------------------------------------------------------------------

std::optional<std::string> ReadBytes(const std::string& path) {
  const THandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.Valid())
    return std::nullopt;
  std::string bytes(GetFileSize(file.H, nullptr), '\0');
  DWORD read = 0;
  if (!ReadFile(file.H, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
    return std::nullopt;
  bytes.resize(read);
  return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  const THandle file(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  if (file.Valid())
    WriteFile(file.H, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..")
      names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::string& folder) {
  if (FileExists(folder)) {
    DeleteFileA(folder.c_str());
    return;
  }
  for (const std::string& name : FolderEntries(folder)) {
    const std::string path = folder + "\\" + name;
    if (FolderExists(path)) {
      RemoveTree(path);
    } else {
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(path.c_str());
    }
  }
  RemoveDirectoryA(folder.c_str());
}

void MakeFolders(const std::string& folder) {
  for (size_t at = folder.find('\\', 3); at != std::string::npos; at = folder.find('\\', at + 1))
    CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
  CreateDirectoryA(folder.c_str(), nullptr);
}

unsigned long long FreeBytes(const std::string& path) {
  ULARGE_INTEGER free{};
  if (!GetDiskFreeSpaceExA(path.c_str(), &free, nullptr, nullptr))
    return 0;
  return free.QuadPart;
}

// --- Registry -------------------------------------------------------------------

std::optional<std::string> RegistryString(HKEY root, const std::string& key,
                                          const std::string& value, REGSAM view) {
  TKey k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k.H) != ERROR_SUCCESS)
    return std::nullopt;
  char data[2048];
  DWORD type = 0, size = sizeof data;
  if (RegQueryValueExA(k.H, value.empty() ? nullptr : value.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return std::nullopt;
  std::string text(data, size);
  if (!text.empty() && text.back() == '\0')
    text.pop_back();
  return text;
}

bool KeyExists(HKEY root, const std::string& key, REGSAM view) {
  TKey k;
  return RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &k.H) == ERROR_SUCCESS;
}

void SetRegistryString(HKEY root, const std::string& key, const std::string& value,
                       const std::string& data) {
  TKey k;
  if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k.H, nullptr) !=
      ERROR_SUCCESS)
    return;
  RegSetValueExA(k.H, value.empty() ? nullptr : value.c_str(), 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(data.c_str()), static_cast<DWORD>(data.size() + 1));
}

std::map<std::string, std::string> DumpKey(HKEY root, const std::string& key) {
  std::map<std::string, std::string> values;
  TKey k;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k.H) == ERROR_SUCCESS)
    DumpInto(k.H, "", values);
  return values;
}

std::string RegisteredLibrary() {
  return RegistryString(HKEY_CLASSES_ROOT, SServerKey, "").value_or("");
}

TProductState ProductState(const std::string& folder) {
  TProductState state;
  for (const std::string& name : FolderEntries(folder))
    state.Files[name] = ReadBytes(folder + "\\" + name).value_or("<unreadable>");
  state.Classes = DumpKey(HKEY_CLASSES_ROOT, SClassKey);
  state.UninstallRecord = DumpKey(HKEY_LOCAL_MACHINE, SUninstallKey);
  return state;
}

std::string DefaultFolder() {
  // On 64-bit Windows the 64-bit view names the folder of 32-bit programs:
  // the program's own read of "ProgramFilesDir" must be redirected to it.
  const bool wow64 = UnderWow64();
  return RegistryString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                        wow64 ? "ProgramFilesDir (x86)" : "ProgramFilesDir",
                        wow64 ? KEY_WOW64_64KEY : 0)
             .value_or("<no program files folder>") +
         "\\QLXT3SE";
}

bool UnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void ExpectOnlyIn32BitView(const std::string& folder) {
  if (!UnderWow64())
    return;
  const std::string library = folder + "\\QLX_Tessel_3.dll";
  const std::string server = SServerKey;
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, SUninstallKey, "DisplayName", KEY_WOW64_32KEY),
            "QLX Tessel 3 Starter Edition");
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, "Software\\Classes\\" + server, "", KEY_WOW64_32KEY),
            library);
  EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, SSettingsKey, "InstallFolder", KEY_WOW64_32KEY),
            folder);
  // Where the 64-bit view finds them.
  EXPECT_EQ(RegistryString(
                HKEY_LOCAL_MACHINE,
                "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QLXT3SE",
                "DisplayName", KEY_WOW64_64KEY),
            "QLX Tessel 3 Starter Edition");
  EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, "Software\\Classes\\Wow6432Node\\" + server, "",
                           KEY_WOW64_64KEY),
            library);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey, KEY_WOW64_64KEY));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, SClassKey, KEY_WOW64_64KEY));
}

void ResetProduct(const std::vector<std::string>& folders) {
  EndLeftOverPrograms();
  RegDeleteTreeA(HKEY_CLASSES_ROOT, SClassKey);
  RegDeleteKeyA(HKEY_CLASSES_ROOT, SClassKey);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, SUninstallKey);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SUninstallKey);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, SNameSpaceKey);
  for (const std::string& folder : folders)
    RemoveTree(folder);
}

// --- Other programs -------------------------------------------------------------

HWND WindowOfProcess(const char* cls, DWORD processId) {
  TWindowSearch search{cls, processId};
  EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

std::vector<std::string> ComputerFolderNames() {
  std::vector<std::string> names;
  const HRESULT com = CoInitialize(nullptr);
  IShellFolder* desktop = nullptr;
  IShellFolder* computer = nullptr;
  IEnumIDList* items = nullptr;
  LPITEMIDLIST drives = nullptr;
  if (SUCCEEDED(SHGetDesktopFolder(&desktop)) &&
      SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drives)) &&
      SUCCEEDED(desktop->BindToObject(drives, nullptr, IID_IShellFolder,
                                      reinterpret_cast<void**>(&computer))) &&
      computer->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &items) == S_OK) {
    LPITEMIDLIST item = nullptr;
    while (items->Next(1, &item, nullptr) == S_OK) {
      STRRET name{};
      char text[MAX_PATH] = {};
      if (SUCCEEDED(computer->GetDisplayNameOf(item, SHGDN_NORMAL, &name)))
        StrRetToBufA(&name, item, text, sizeof text);
      names.emplace_back(text);
      CoTaskMemFree(item);
    }
  }
  for (IUnknown* object : {static_cast<IUnknown*>(items), static_cast<IUnknown*>(computer),
                           static_cast<IUnknown*>(desktop)})
    if (object)
      object->Release();
  CoTaskMemFree(drives);
  if (SUCCEEDED(com))
    CoUninitialize();
  return names;
}

void ExpectPlainBox(const TMessageBox& box, const std::string& text) {
  EXPECT_EQ(box.Text, text);
  EXPECT_EQ(box.Caption, "QLXT3SE");
  EXPECT_FALSE(box.Icon) << text;
}

void PressOkUntilEnded(const TMessageBox& box) {
  DWORD id = 0;
  GetWindowThreadProcessId(box.Window, &id);
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
  EXPECT_TRUE(PressOk(box)) << box.Text;
  if (process) {
    EXPECT_EQ(WaitForSingleObject(process, 60000), WAIT_OBJECT_0) << "ended after: " << box.Text;
    CloseHandle(process);
  }
}

std::string PendingDeletions() {
  char data[16384] = {};
  DWORD size = sizeof data - 2;
  RegGetValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
               "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data, &size);
  std::string text(data, size);
  std::replace(text.begin(), text.end(), '\0', '|');
  return text;
}

// --- "Start" --------------------------------------------------------------------

TOutcome AwaitOutcome(TSetupProcess& setup, double seconds) {
  TOutcome outcome;
  WaitUntil(
      [&] {
        outcome.Box = FindMessageBox(setup.Id());
        if (outcome.Box && !outcome.Box.Text.empty())
          return true;
        outcome.Ended = !setup.Running();
        return outcome.Ended || Page(setup.Wizard()) == "finish";
      },
      seconds);
  if (outcome.Box.Text.empty())
    outcome.Box = TMessageBox{};
  outcome.Page = outcome.Ended ? "" : Page(setup.Wizard());
  return outcome;
}

} // namespace e2e
