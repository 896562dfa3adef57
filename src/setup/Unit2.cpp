#include "Unit2.h"

#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
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

// The length of the character that starts at byte at: two for a lead byte
// followed by another byte, else one.
size_t CharacterLength(const std::string& text, size_t at, UINT codePage) {
  return at + 1 < text.size() && IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[at])) ? 2 : 1;
}

bool IsDelimiterAt(const std::string& text, size_t at, size_t length, const char* delimiters) {
  return length == 1 && std::strchr(delimiters, text[at]) != nullptr && text[at] != '\0';
}

// The name with every double-byte character read as a plain letter, for the
// checks that look at single characters: a second byte is not a "|" or a "\".
std::string SingleByteView(const std::string& name, UINT codePage) {
  std::string view;
  for (size_t at = 0; at < name.size();) {
    const size_t length = CharacterLength(name, at, codePage);
    view += length == 1 ? name[at] : 'x';
    at += length;
  }
  return view;
}

// Why a single folder or file name cannot be used as it stands; empty when it
// can. The system silently drops a trailing dot or blank, so such a name (and
// "." and "..") names something other than what it says.
std::string ComponentProblem(const std::string& name, UINT codePage = CP_ACP) {
  const std::string component = SingleByteView(name, codePage);
  if (rtl::HasForbiddenFileNameCharacter(component))
    return "a name holds a character that is not allowed";
  if (rtl::IsDeviceFileName(component))
    return component + " is a device name";
  if (!component.empty() && (component.back() == '.' || component.back() == ' '))
    return "a name ends in a dot or a blank";
  return {};
}

// --- What exists of the installation folder ---------------------------------------

constexpr const char* SDriveRootProblem = "a drive root";
constexpr const char* SOthersCanChangeProblem = "other users can change it";
constexpr const char* SLinkProblem = "a junction or link in the path";
constexpr const char* SNoPermissionsProblem = "a drive that keeps no permissions";
constexpr const char* SUnreachableProblem = "its drive cannot be reached";
constexpr const char* SUnreadableProblem = "its permissions cannot be read";

// A security identifier, owned.
using TSidBytes = std::vector<BYTE>;

TSidBytes SidFromText(const char* text) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidA(text, &sid))
    return {};
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  TSidBytes copy(bytes, bytes + GetLengthSid(sid));
  LocalFree(sid);
  return copy;
}

TSidBytes CurrentUserSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
    return {};
  const THandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size))
    return {};
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return TSidBytes(bytes, bytes + GetLengthSid(sid));
}

// Those who may change what we install: SYSTEM, Administrators,
// TrustedInstaller, the user running us (elevated), and the creator of what we
// create ourselves.
class TTrustedSids {
public:
  TTrustedSids() {
    for (const char* text :
         {"S-1-5-18", "S-1-5-32-544",
          "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "S-1-3-0", "S-1-3-4"})
      FSids.push_back(SidFromText(text));
    FSids.push_back(CurrentUserSid());
  }
  bool Contains(PSID sid) const {
    for (const TSidBytes& trusted : FSids)
      if (!trusted.empty() && EqualSid(const_cast<BYTE*>(trusted.data()), sid))
        return true;
    return false;
  }

private:
  std::vector<TSidBytes> FSids;
};

// What a part of the path is to the folder: the folder itself, the nearest
// existing parent of a folder still to be made, or a folder above either.
enum TPathRole { prFolder, prParent, prAncestor };

// The rights no one else may hold on a part in that role. Renaming a part
// needs DELETE on it or FILE_DELETE_CHILD on its parent; WRITE_DAC and
// WRITE_OWNER give every other right. Others may make folders in a parent
// (every user may in a drive root): one made there before ours is found when
// "Start" looks again once the folders exist.
DWORD ForbiddenRights(TPathRole role) {
  DWORD rights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD;
  if (role == prFolder)
    rights |= FILE_ADD_SUBDIRECTORY | FILE_ADD_FILE;
  return rights;
}

bool IsAllowingAce(BYTE type) {
  return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
         type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
         type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE ||
         type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE;
}

// Whether an allowing entry gives someone untrusted a forbidden right. On the
// folder itself inheritable entries count too: the files we write get them.
// Denying entries are not weighed against allowing ones: a folder that needs
// them to be safe is refused.
bool AceGrantsOthers(const ACE_HEADER* header, TPathRole role, const TTrustedSids& trusted) {
  if (!IsAllowingAce(header->AceType))
    return false;
  if ((header->AceFlags & INHERIT_ONLY_ACE) && role != prFolder)
    return false;
  const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
  ACCESS_MASK mask = ace->Mask;
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  MapGenericMask(&mask, &mapping);
  if (!(mask & ForbiddenRights(role)))
    return false;
  // Only the plain layout has its trustee where this reads it; any other
  // allowing entry with such a right is taken as someone else's.
  const bool plain = header->AceType == ACCESS_ALLOWED_ACE_TYPE ||
                     header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
  return !plain || !trusted.Contains(const_cast<DWORD*>(&ace->SidStart));
}

// The owner and access list of an existing part; empty when they cannot be read.
std::vector<BYTE> ReadSecurity(const std::string& path) {
  constexpr SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  std::vector<BYTE> descriptor(1024);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD needed = 0;
    if (GetFileSecurityProc(path.c_str(), wanted, descriptor.data(),
                            static_cast<DWORD>(descriptor.size()), &needed))
      return descriptor;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= descriptor.size())
      return {};
    descriptor.resize(needed);
  }
  return {};
}

// Why someone untrusted could change the part; empty when no one can.
std::string SecurityProblem(const std::string& path, TPathRole role, const TTrustedSids& trusted) {
  std::vector<BYTE> bytes = ReadSecurity(path);
  if (bytes.empty())
    return SUnreadableProblem;
  const PSECURITY_DESCRIPTOR descriptor = bytes.data();
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!IsValidSecurityDescriptor(descriptor) ||
      !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted))
    return SUnreadableProblem;
  if (!owner || !trusted.Contains(owner))
    return SOthersCanChangeProblem;
  BOOL present = FALSE;
  PACL list = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted))
    return SUnreadableProblem;
  // No access list at all lets everyone do everything.
  if (!present || !list)
    return SOthersCanChangeProblem;
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(list, i, &ace))
      return SUnreadableProblem;
    if (AceGrantsOthers(static_cast<const ACE_HEADER*>(ace), role, trusted))
      return SOthersCanChangeProblem;
  }
  return {};
}

// Why what exists of root and the names below it would let others in.
std::string ExistingPartProblem(const std::string& root, const std::vector<std::string>& names,
                                UINT codePage) {
  DWORD flags = 0;
  // The flags alone: Wine cannot give a label or serial for a drive it maps
  // to a Unix mount of its own, and fails the whole call when asked for them.
  if (!GetVolumeInformationProc(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
    return SUnreachableProblem;
  if (!(flags & FILE_PERSISTENT_ACLS))
    return SNoPermissionsProblem;
  // The root, then each folder below it that exists. A volume's root is no
  // link, so its mark is not looked at: Wine gives it to the drives it maps
  // to Unix mounts of their own.
  std::vector<std::string> parts{root};
  for (const std::string& name : names) {
    const std::string& above = parts.back();
    const std::string part =
        (EndsWithDelimiter(above, "\\", codePage) ? above : above + '\\') + name;
    SetLastError(ERROR_SUCCESS);
    const DWORD attributes = GetFileAttributesProc(part.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        return SUnreadableProblem;
      break;
    }
    // A junction or link leads where its maker chose, and he can point it
    // elsewhere later.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
      return SLinkProblem;
    // A file in the way: nothing below it can be made, which the install
    // reports when it tries.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
      break;
    parts.push_back(part);
  }
  const bool folderExists = parts.size() == names.size() + 1;
  const TTrustedSids trusted;
  for (size_t i = 0; i < parts.size(); ++i) {
    TPathRole role = prAncestor;
    if (i + 1 == parts.size())
      role = folderExists ? prFolder : prParent;
    if (std::string problem = SecurityProblem(parts[i], role, trusted); !problem.empty())
      return problem;
  }
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

// --- Paths -----------------------------------------------------------------------

size_t FindLastDelimiter(const std::string& path, const char* delimiters, UINT codePage) {
  size_t last = std::string::npos;
  for (size_t at = 0; at < path.size();) {
    const size_t length = CharacterLength(path, at, codePage);
    if (IsDelimiterAt(path, at, length, delimiters))
      last = at;
    at += length;
  }
  return last;
}

bool EndsWithDelimiter(const std::string& path, const char* delimiters, UINT codePage) {
  const size_t last = FindLastDelimiter(path, delimiters, codePage);
  return last != std::string::npos && last + 1 == path.size();
}

std::vector<std::string> SplitPath(const std::string& path, const char* delimiters, UINT codePage) {
  std::vector<std::string> components(1);
  for (size_t at = 0; at < path.size();) {
    const size_t length = CharacterLength(path, at, codePage);
    if (IsDelimiterAt(path, at, length, delimiters))
      components.emplace_back();
    else
      components.back().append(path, at, length);
    at += length;
  }
  return components;
}

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

TGetFileAttributesProc GetFileAttributesProc = &GetFileAttributesA;
TGetFileSecurityProc GetFileSecurityProc = &GetFileSecurityA;
TGetVolumeInformationProc GetVolumeInformationProc = &GetVolumeInformationA;

std::string InstallFolderProblem(const std::string& folder, size_t longestFileName, UINT codePage) {
  constexpr const char* delimiters = "\\/";
  const auto delimiter = [](char c) { return c == '\\' || c == '/'; };
  std::string rest;
  std::string root;
  size_t rootNames = 0;
  if (folder.size() >= 2 && IsAsciiLetter(folder[0]) && folder[1] == ':' &&
      (folder.size() == 2 || delimiter(folder[2]))) {
    rest = folder.substr(std::min<size_t>(folder.size(), 3));
    root = folder.substr(0, 2) + '\\';
  } else if (folder.size() > 2 && delimiter(folder[0]) && delimiter(folder[1])) {
    rest = folder.substr(2);
    rootNames = 2; // server and share
  } else {
    return "not a full path";
  }
  const std::vector<std::string> names = SplitPath(rest, delimiters, codePage);
  std::vector<std::string> below;
  for (size_t i = 0; i < names.size(); ++i) {
    // Doubled and trailing delimiters are harmless, except where the server
    // and share names belong.
    if (names[i].empty() && i >= rootNames)
      continue;
    if (names[i].empty())
      return "not a full path";
    if (std::string problem = ComponentProblem(names[i], codePage); !problem.empty())
      return problem;
    if (i >= rootNames)
      below.push_back(names[i]);
  }
  if (names.size() < rootNames)
    return "not a full path";
  if (rootNames > 0)
    root = "\\\\" + names[0] + '\\' + names[1] + '\\';
  // The files would land in the root, and the uninstall would act on the
  // drive's current folder.
  if (below.empty())
    return SDriveRootProblem;
  // A folder name leaves room for an 8.3 name; each file path fits MAX_PATH,
  // the staged and set-aside names included.
  const size_t bare =
      EndsWithDelimiter(folder, delimiters, codePage) ? folder.size() - 1 : folder.size();
  const size_t name = std::max(longestFileName, SScratchNameLength);
  if (bare > MAX_PATH - 12 - 1 || bare + 1 + name >= MAX_PATH)
    return "too long";
  return ExistingPartProblem(root, below, codePage);
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

std::string InstalledFolderOf(const std::string& library, UINT codePage) {
  const size_t cut = FindLastDelimiter(library, "\\:", codePage);
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
  if (EndsWithDelimiter(bare))
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
