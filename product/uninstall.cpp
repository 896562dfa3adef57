// The product's uninstaller as it sits in the installation folder, where the
// uninstall record's UninstallString names it. Only kernel32 may be imported
// here: the folder holds the product's Msvcrt.dll, which the loader would take
// for the system's runtime library (directly, or for user32, advapi32 or
// shell32), and a running program cannot delete its own file anyway. So this
// part carries no C runtime, and what it needs beyond kernel32 it loads from
// the system folder by full path. It writes the uninstaller proper (embedded
// as the resource UNINSTALLER) into a new private folder under the Windows
// folder's Temp, both scheduled for deletion at the next restart, starts it
// there and ends.
#include <windows.h>

#include "PrivateFolder.h"

namespace {

constexpr DWORD SPathSize = MAX_PATH + 1;
constexpr const char* SCaption = "QLXT3SE";
constexpr const char* SCannotStart =
    "The uninstaller of QLX Tessel 3 Starter Edition could not be started.";
// Random bytes in the private folder's name, and names tried before giving up.
constexpr int SNameBytes = 16;
constexpr int SNameAttempts = 16;

// The compiler may turn loops and initialisations into these calls; without a
// C runtime they are ours.
extern "C" void* memset(void* target, int value, size_t count) {
  auto* p = static_cast<volatile unsigned char*>(target);
  while (count--)
    *p++ = static_cast<unsigned char>(value);
  return target;
}

extern "C" void* memcpy(void* target, const void* source, size_t count) {
  auto* p = static_cast<volatile unsigned char*>(target);
  auto* q = static_cast<const unsigned char*>(source);
  while (count--)
    *p++ = *q++;
  return target;
}

// Closes a file or process handle when it goes.
class THandle {
public:
  explicit THandle(HANDLE handle) : FHandle(handle) {}
  ~THandle() {
    if (Valid())
      CloseHandle(FHandle);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  bool Valid() const { return FHandle && FHandle != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return FHandle; }

private:
  HANDLE FHandle;
};

// Appends text to buffer (of SPathSize * 2 bytes); false when it would not fit.
bool Append(char* buffer, const char* text) {
  const int used = lstrlenA(buffer);
  if (used + lstrlenA(text) >= static_cast<int>(SPathSize * 2))
    return false;
  lstrcpyA(buffer + used, text);
  return true;
}

void AppendNumber(char* buffer, DWORD value, int base) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[value % base];
    value /= base;
  } while (value && n < 15);
  char text[16];
  for (int i = 0; i < n; ++i)
    text[i] = digits[n - 1 - i];
  text[n] = '\0';
  Append(buffer, text);
}

// Libraries loaded from here on come from the system folder, and so do the
// libraries they import: never the installation folder's Msvcrt.dll.
void RestrictDllSearch() {
  using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
  auto set = reinterpret_cast<TSetDefaultDllDirectories>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (set)
    set(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const char* name) {
  char path[SPathSize * 2] = {};
  const UINT n = GetSystemDirectoryA(path, SPathSize);
  if (n == 0 || n >= SPathSize || !Append(path, "\\") || !Append(path, name))
    return nullptr;
  HMODULE library = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Systems that know no search flags: the altered search path looks in the
  // library's own folder first, and never in this program's.
  if (!library && GetLastError() == ERROR_INVALID_PARAMETER)
    library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  return library;
}

template <class TFunction> TFunction SystemFunction(const char* library, const char* name) {
  const HMODULE module = LoadSystemLibrary(library);
  return module ? reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

void ShowCannotStart() {
  using TMessageBoxA = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
  if (auto box = SystemFunction<TMessageBoxA>("user32.dll", "MessageBoxA"))
    box(nullptr, SCannotStart, SCaption, MB_OK | MB_SETFOREGROUND);
}

// Bytes from the system's random number generator (RtlGenRandom).
bool RandomBytes(BYTE* bytes, ULONG count) {
  using TGenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
  auto generate = SystemFunction<TGenRandom>("advapi32.dll", "SystemFunction036");
  return generate && generate(bytes, count);
}

// The Windows folder's own Temp: standard users may create folders there but
// cannot rename or delete what others made, nor move the folder itself.
bool SharedTempFolder(char* temp) {
  const UINT n = GetSystemWindowsDirectoryA(temp, SPathSize);
  if (n == 0 || n >= SPathSize)
    return false;
  if (temp[n - 1] == '\\')
    temp[n - 1] = '\0';
  return Append(temp, "\\Temp\\");
}

// A new folder there under a name no one can foresee, created with its
// private security by the very call that makes it. A folder that exists
// already under the name (planted by someone who guessed it) is never used.
bool MakePrivateFolder(char* folder) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = const_cast<BYTE*>(SPrivateSecurity);
  char temp[SPathSize * 2] = {};
  if (!SharedTempFolder(temp))
    return false;
  for (int attempt = 0; attempt < SNameAttempts; ++attempt) {
    BYTE random[SNameBytes] = {};
    if (!RandomBytes(random, sizeof random))
      return false;
    folder[0] = '\0';
    Append(folder, temp);
    Append(folder, "QLXT3SE-");
    for (BYTE b : random) {
      const char hex[] = {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15], '\0'};
      Append(folder, hex);
    }
    if (CreateDirectoryA(folder, &security))
      return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
  }
  return false;
}

bool WriteUninstaller(const char* path) {
  const HRSRC info = FindResourceA(nullptr, "UNINSTALLER", MAKEINTRESOURCEA(10)); // RT_RCDATA
  const HGLOBAL loaded = info ? LoadResource(nullptr, info) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = info ? SizeofResource(nullptr, info) : 0;
  if (!bytes || size == 0)
    return false;
  const THandle file(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid())
    return false;
  DWORD written = 0;
  return WriteFile(file.Get(), bytes, size, &written, nullptr) && written == size;
}

// The written copy, open so that no one may change, replace or delete it
// while it is started; the loader may still read and map it.
HANDLE HoldUninstaller(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The folder this program runs from, without its trailing delimiter.
bool OwnFolder(char* folder) {
  const DWORD n = GetModuleFileNameA(nullptr, folder, SPathSize);
  if (n == 0 || n >= SPathSize)
    return false;
  char* cut = nullptr;
  // A delimiter byte can be the second byte of a double-byte character.
  for (char* p = folder; *p; p += IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] ? 2 : 1)
    if (*p == '\\')
      cut = p;
  if (!cut)
    return false;
  *cut = '\0';
  return true;
}

// Starts the uninstaller proper with a handle on this process, which it waits
// for before it deletes this file, and the folder this program runs from.
bool Start(const char* program, const char* folder, const char* ownFolder) {
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &duplicate,
                       SYNCHRONIZE, TRUE, 0))
    return false;
  const THandle self(duplicate);
  char commandLine[SPathSize * 2] = {};
  Append(commandLine, "\"");
  Append(commandLine, program);
  Append(commandLine, "\" ");
  AppendNumber(commandLine, static_cast<DWORD>(reinterpret_cast<UINT_PTR>(duplicate)), 10);
  Append(commandLine, " \"");
  // A folder that ends in a delimiter (a drive's root) would escape the quote.
  Append(commandLine, ownFolder);
  if (!Append(commandLine, "\""))
    return false;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // Started in its own folder: a current folder inside the installation
  // folder would keep that from being removed.
  if (!CreateProcessA(program, commandLine, nullptr, nullptr, TRUE, 0, nullptr, folder, &startup,
                      &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

bool Run() {
  char ownFolder[SPathSize] = {};
  char folder[SPathSize * 2] = {};
  if (!OwnFolder(ownFolder) || !MakePrivateFolder(folder))
    return false;
  char program[SPathSize * 2] = {};
  Append(program, folder);
  bool started = false;
  if (Append(program, "\\Uninstall.exe") && WriteUninstaller(program)) {
    const THandle held(HoldUninstaller(program));
    if (held.Valid()) {
      // The file first: the folder can only go once it is empty.
      MoveFileExA(program, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      started = Start(program, folder, ownFolder);
    }
  }
  if (!started) {
    DeleteFileA(program);
    RemoveDirectoryA(folder);
  }
  return started;
}

} // namespace

extern "C" __attribute__((force_align_arg_pointer)) void UninstallStart() {
  RestrictDllSearch();
  if (Run())
    ExitProcess(0);
  ShowCannotStart();
  ExitProcess(1);
}
