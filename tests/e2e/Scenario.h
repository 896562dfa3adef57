// What the end-to-end scenarios look at and put back: the product's files and
// registry entries, other programs started beside the setup program, and the
// outcome of "Start".
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "SetupDriver.h"

// Ends a test at a failed step, whose later steps would only repeat the failure.
#define REQUIRE(condition)                                                                         \
  if (!(condition)) {                                                                              \
    ADD_FAILURE() << "Required: " #condition;                                                      \
    return;                                                                                        \
  }

namespace e2e {

inline constexpr const char* SClassKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";
inline constexpr const char* SServerKey =
    "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\InProcServer32";
inline constexpr const char* SSettingsKey =
    "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\ShellEx\\Preferencies\\General";
inline constexpr const char* SUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QLXT3SE";
inline constexpr const char* SNameSpaceKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\NameSpace\\"
    "{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";
inline constexpr const char* kProductFiles[] = {"QLX_Tessel_3.dll", "sqlite3.dll", "uninstall.exe",
                                                "Msvcrt.dll"};

// --- Files ----------------------------------------------------------------------

std::optional<std::string> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// The names in a folder, sorted; empty when it does not exist.
std::vector<std::string> FolderEntries(const std::string& folder);
// A file or a folder with everything in it.
void RemoveTree(const std::string& path);
// Makes the folder and its missing parents.
void MakeFolders(const std::string& folder);
// Bytes free on the drive of a path.
unsigned long long FreeBytes(const std::string& path);

// --- Registry -------------------------------------------------------------------

// A REG_SZ value's text without its terminating NUL; nothing when missing or
// of another type. view picks a registry view (KEY_WOW64_32KEY or
// KEY_WOW64_64KEY); without it, this process's own.
std::optional<std::string> RegistryString(HKEY root, const std::string& key,
                                          const std::string& value, REGSAM view = 0);
bool KeyExists(HKEY root, const std::string& key, REGSAM view = 0);
void SetRegistryString(HKEY root, const std::string& key, const std::string& value,
                       const std::string& data);
// Every value under the key and its subkeys, as "subkey\name" -> "type:data".
std::map<std::string, std::string> DumpKey(HKEY root, const std::string& key);

// The registered library path, empty when none is.
std::string RegisteredLibrary();

// The product's installation as the system holds it: the folder's files and
// every registry entry of the product.
struct TProductState {
  std::map<std::string, std::string> Files;
  std::map<std::string, std::string> Classes;
  std::map<std::string, std::string> UninstallRecord;
  bool operator==(const TProductState&) const = default;
};
TProductState ProductState(const std::string& folder);

// The program files folder of 32-bit programs followed by "\QLXT3SE": the
// folder field's default.
std::string DefaultFolder();

// Whether this 32-bit process runs on 64-bit Windows, as the setup program does.
bool UnderWow64();

// On 64-bit Windows: the uninstall record and the class of an install into
// folder are in the 32-bit view, under Wow6432Node, and the 64-bit view has
// neither. Nothing to check on 32-bit Windows, which has one view.
void ExpectOnlyIn32BitView(const std::string& folder);

// Ends setup programs and "Progman" owners left by an earlier scenario, then
// deletes the product's class key, its uninstall record and the folders.
void ResetProduct(const std::vector<std::string>& folders);

// --- Other programs -------------------------------------------------------------

// The top-level window of this class that the process owns, or null.
HWND WindowOfProcess(const char* cls, DWORD processId);

// The display names of the computer folder's items, as the shell lists them.
std::vector<std::string> ComputerFolderNames();

// A plain message box of the program's: that text, captioned "QLXT3SE", no icon.
void ExpectPlainBox(const TMessageBox& box, const std::string& text);

// Answers an uninstaller's last box and waits until the uninstaller has
// ended: until then it holds the change lock, and an uninstaller started
// meanwhile would rightly find the product busy.
void PressOkUntilEnded(const TMessageBox& box);

// The files the system deletes at the next restart, "|" between the names.
std::string PendingDeletions();

// --- "Start" --------------------------------------------------------------------

// What the setup program shows after "Start": a message box, the finish page,
// or nothing because it has ended.
struct TOutcome {
  TMessageBox Box;
  std::string Page;
  bool Ended = false;
};

// Waits until the program shows a message box or the finish page, or ends.
TOutcome AwaitOutcome(TSetupProcess& setup, double seconds = 120);

} // namespace e2e
