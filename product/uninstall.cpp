// The product's uninstaller as it sits in the installation folder, where the
// uninstall record's UninstallString names it. Only kernel32 may be imported
// here: the folder holds the product's Msvcrt.dll, which the loader would take
// for the system's runtime library (directly, or for user32, advapi32 or
// shell32), and a running program cannot delete its own file anyway. So this
// part carries no C runtime; it writes the uninstaller proper (embedded as
// the resource UNINSTALLER) into a new private folder under the user's
// temporary folder, both scheduled for deletion at the next restart, starts
// it there and ends.
#include <windows.h>

#include "PrivateFolder.h"

namespace {

constexpr DWORD SPathSize = MAX_PATH + 1;

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

// A new folder under the temporary folder that no one else created, and
// that only the administrators may change.
bool MakePrivateFolder(char* folder) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = const_cast<BYTE*>(SPrivateSecurity);
  char temp[SPathSize] = {};
  const DWORD n = GetTempPathA(SPathSize, temp);
  if (n == 0 || n >= SPathSize)
    return false;
  DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 1664525 + 1013904223;
    folder[0] = '\0';
    Append(folder, temp);
    Append(folder, "QLXT3SE-");
    AppendNumber(folder, seed, 16);
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
  const HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes, size, &written, nullptr) && written == size;
  CloseHandle(file);
  return ok;
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
DWORD Start(const char* program, const char* folder, const char* ownFolder) {
  HANDLE self = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                       SYNCHRONIZE, TRUE, 0))
    return GetLastError();
  char commandLine[SPathSize * 2] = {};
  Append(commandLine, "\"");
  Append(commandLine, program);
  Append(commandLine, "\" ");
  AppendNumber(commandLine, static_cast<DWORD>(reinterpret_cast<UINT_PTR>(self)), 10);
  Append(commandLine, " \"");
  // A folder that ends in a delimiter (a drive's root) would escape the quote.
  Append(commandLine, ownFolder);
  const bool fits = Append(commandLine, "\"");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // Started in its own folder: a current folder inside the installation
  // folder would keep that from being removed.
  const bool started = fits && CreateProcessA(program, commandLine, nullptr, nullptr, TRUE, 0,
                                              nullptr, folder, &startup, &process);
  const DWORD error =
      started ? ERROR_SUCCESS : (fits ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
  if (started) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(self);
  return error;
}

DWORD Run() {
  char ownFolder[SPathSize] = {};
  char folder[SPathSize * 2] = {};
  if (!OwnFolder(ownFolder) || !MakePrivateFolder(folder))
    return ERROR_PATH_NOT_FOUND;
  char program[SPathSize * 2] = {};
  Append(program, folder);
  if (!Append(program, "\\Uninstall.exe") || !WriteUninstaller(program)) {
    DeleteFileA(program);
    RemoveDirectoryA(folder);
    return ERROR_WRITE_FAULT;
  }
  // The file first: the folder can only go once it is empty.
  MoveFileExA(program, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  MoveFileExA(folder, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return Start(program, folder, ownFolder);
}

} // namespace

extern "C" __attribute__((force_align_arg_pointer)) void UninstallStart() {
  ExitProcess(Run());
}
