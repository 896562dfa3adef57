// The setup helpers: the registry locations the program reads and writes, the
// registration of the product library through regsvr32, the end of the shell's
// process, and the folder browser.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <windows.h>

namespace setup {

// Product constants that appear in registry paths.
inline constexpr const char* SProductClassId = "{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";
inline constexpr const char* SProductShortName = "QLXT3SE";

// Every registry location the program touches. The leading delimiter of the
// first one is deliberate: the read drops it and starts from the root.
inline constexpr const char* SCurrentVersionKey = "\\Software\\Microsoft\\Windows\\CurrentVersion";
inline constexpr const char* SProgramFilesDirValue = "ProgramFilesDir";
inline constexpr const char* SInProcServerKey =
    "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\InProcServer32";
// The same key in the machine's own classes, where the elevated regsvr32
// writes it and a standard user cannot.
inline constexpr const char* SMachineInProcServerKey =
    "Software\\Classes\\CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\InProcServer32";
inline constexpr const char* SServerFileName = "QLX_Tessel_3.dll";
inline constexpr const char* SPreferencesKey =
    "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\ShellEx\\Preferencies\\General";
inline constexpr const char* SInstallFolderValue = "InstallFolder";
inline constexpr const char* SUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QLXT3SE";

// Empty, text, or a signed 32-bit integer.
using TRegistryVariant = std::variant<std::monostate, std::string, int32_t>;

// --- Registry ---------------------------------------------------------------

// Reads a REG_SZ, REG_EXPAND_SZ (unexpanded), REG_DWORD or REG_BINARY value
// into value and returns it. Raises rtl::Exception with the system's text when
// the key cannot be opened or the value is missing or of another type, and
// rtl::ERegistryException when its data cannot be read.
TRegistryVariant& ReadRegistryValue(HKEY root, const std::string& keyPath,
                                    const std::string& valueName, TRegistryVariant& value);

// The system's program files folder; raises what ReadRegistryValue raises.
std::wstring GetProgramFilesDir();

// The path of the registered product library, read from the machine's own
// classes (the merged HKEY_CLASSES_ROOT lets any user plant a value there);
// empty when none is registered or the value is not one IsProductServerPath
// accepts, so that nothing is ever unregistered or deleted on its word.
std::wstring GetInstalledServerPath();

// Whether a registered library path looks like ours: a full path, drive
// ("X:\...") or UNC ("\\server\share\..."), naming "QLX_Tessel_3.dll" in any
// letter case, with no empty, "." or ".." component and no character that a
// file name cannot hold.
bool IsProductServerPath(const std::string& path);

// A value of at most 255 characters as text; empty when anything fails.
std::string ReadRegistryString(const std::string& keyPath, const std::string& valueName, HKEY root);

// Creates the key if needed and sets a REG_SZ value; raises
// rtl::EOleRegistrationError when either step fails.
void WriteRegistryString(const std::string& keyPath, const std::string& valueName,
                         const std::string& value, HKEY root);

// Deletes a key that has no subkeys; every failure is ignored.
void DeleteRegistryKey(const std::string& keyPath, HKEY root);

// --- Paths, walked by characters -------------------------------------------------
// In the East-Asian double-byte code pages the second byte of a character may
// be 0x5C or another byte that is special alone: the path helpers walk the
// text by characters of the code page (the ANSI one unless a test names
// another), so that only a character of its own is a delimiter.

// Where the last character that is one of delimiters stands; npos when none is.
size_t FindLastDelimiter(const std::string& path, const char* delimiters = "\\",
                         UINT codePage = CP_ACP);

// Whether the last character of path is one of delimiters.
bool EndsWithDelimiter(const std::string& path, const char* delimiters = "\\",
                       UINT codePage = CP_ACP);

// The components between delimiters, empty ones included.
std::vector<std::string> SplitPath(const std::string& path, const char* delimiters = "\\",
                                   UINT codePage = CP_ACP);

// --- Installation folder and stored file names ----------------------------------

// "Start" stages each new file and sets each old one aside beside its final
// name, under names of this length: "~QLX" and 8 hex digits and ".tmp". The
// folder rule leaves room for them as for the stored file names.
inline constexpr size_t SScratchNameLength = 16;

// Why the folder text can never hold the product's files, or would let a
// standard user change them, for the message; empty when it can. A full path
// (drive or UNC) below the drive's root, whose names a folder may carry,
// short enough that the folder, a delimiter and the longer of the longest
// file name and SScratchNameLength stay within MAX_PATH. The library is loaded
// by every user's shell and the uninstaller runs elevated, so what exists of
// the path is looked at too: it lies on a drive that keeps permissions, holds
// no junction or link below the root, and no one but SYSTEM, Administrators,
// TrustedInstaller and the user running us owns a part of it or may
// re-permission, delete or rename one. Nor may anyone else write into the
// folder, or make it before us in its nearest existing parent: a folder that
// exists already is used as it is. Blanks inside names, "/" as a delimiter, a
// trailing delimiter and folders that do not exist yet are fine.
std::string InstallFolderProblem(const std::string& folder, size_t longestFileName,
                                 UINT codePage = CP_ACP);

// The system calls through which the folder rule looks at what exists,
// replaceable so that a test can show it folders of every kind: Wine keeps
// no file security, only descriptors made up from the mode bits.
using TGetFileAttributesProc = DWORD(WINAPI*)(LPCSTR path);
using TGetFileSecurityProc = BOOL(WINAPI*)(LPCSTR path, SECURITY_INFORMATION wanted,
                                           PSECURITY_DESCRIPTOR descriptor, DWORD size,
                                           LPDWORD needed);
using TGetVolumeInformationProc = BOOL(WINAPI*)(LPCSTR root, LPSTR name, DWORD nameSize,
                                                LPDWORD serial, LPDWORD longestName, LPDWORD flags,
                                                LPSTR fileSystem, DWORD fileSystemSize);
extern TGetFileAttributesProc GetFileAttributesProc;
extern TGetFileSecurityProc GetFileSecurityProc;
extern TGetVolumeInformationProc GetVolumeInformationProc;

// The box naming a folder that InstallFolderProblem refused.
std::string InvalidFolderText(const std::string& folder, const std::string& problem);

// Whether a stored item's file name may be written into the installation
// folder: one plain name that stays inside it.
bool IsUsableFileName(const std::string& fileName);

// --- Other programs and the shell -------------------------------------------

// Starts program hidden, owned by the application window, and pumps the GUI
// thread's messages until it ends or the application is terminated. False
// when it cannot be started.
bool RunAndWait(const std::string& program, const std::string& parameters);

// regsvr32 by its full path in the system folder: a copy planted in the
// current folder or on the search path must never run with our rights.
std::string RegistrationTool();

// The registration tool's parameter text for the library: "/s" or "/s /u"
// and the quoted path.
std::string RegistrationParameters(const std::wstring& libraryPath, bool unregister);

// Register and unregister the library silently; only a failure on the way is
// shown ("Unable to register %s"), and nothing leaves them.
void RegisterServer(const std::wstring& libraryPath);
void UnregisterServer(const std::wstring& libraryPath);

// Ends the process that owns the shell's desktop window ("Progman"), after the
// notice if asked; does nothing when there is no such window.
void RestartShell(bool showNotice);

// --- Folder browser ---------------------------------------------------------

// Where a dialog of the given size goes: the middle of the work area's size,
// counted from the screen's top left corner (the work area's own left and top
// edges are not added).
POINT CenteredBrowsePosition(const RECT& workArea, const RECT& dialog);

// The folder browser's callback: centres its dialog once it is initialised.
int CALLBACK CenterBrowseDialog(HWND dialog, UINT message, LPARAM param, LPARAM data);

// Shows the system's folder browser; folder becomes the chosen folder's path,
// or empty when the user cancelled. Returns folder.
std::string SelectFolder(const std::string& title, uint32_t flags, std::string& folder);

// --- Uninstall ----------------------------------------------------------------
// The steps the wizard's uninstall and the product's uninstaller share.

inline constexpr DWORD SShellRestartWait = 5000;

// Unregisters the library, restarts the shell with its notice, then gives the
// shell's process 5000 ms to go, processing nothing meanwhile.
void UnregisterAndRestartShell(const std::wstring& library);

// The folder of a registered library path, keeping its trailing delimiter;
// empty when the path has no delimiter.
std::string InstalledFolderOf(const std::string& library, UINT codePage = CP_ACP);

// Whether a file (not a folder) of that name exists.
bool FileExists(const std::string& path);

// Deletes each named file in folder (with its delimiter), in order; a file
// that is gone already counts as deleted. Stops at the first file that cannot
// be deleted and still exists, and returns its path; empty when all are gone.
std::string DeleteProductFiles(const std::string& folder, const std::vector<std::string>& names);

// What follows the product's files: "Uninstall.exe" in folder (whatever the
// result), the folder when it is empty, and the uninstall record.
void RemoveUninstallerFolderAndRecord(const std::string& folder);

// The three lines naming a product file that could not be deleted.
std::string AccessDeniedText(const std::string& path);

// --- Text conversions through the ANSI code page ------------------------------

std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

} // namespace setup
