#include "SystemLibrary.h"

#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace ui {

namespace {

bool IsAbsolute(const std::string& path) {
  return path.size() > 2 && ((path[1] == ':' && path[2] == '\\') || path.rfind("\\\\", 0) == 0);
}

// "" when the text has a character the ANSI code page cannot carry: a path
// with a substitute character would name another file.
std::string Narrow(const wchar_t* text, size_t length) {
  if (length == 0)
    return {};
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, static_cast<int>(length),
                                    nullptr, 0, nullptr, &lossy);
  if (n <= 0 || lossy)
    return {};
  std::string result(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, static_cast<int>(length), result.data(),
                      n, nullptr, nullptr);
  return result;
}

std::string WindowsFolder() {
  char folder[MAX_PATH + 1] = {};
  const UINT n = GetSystemWindowsDirectoryA(folder, sizeof folder);
  return n == 0 || n >= sizeof folder ? std::string() : std::string(folder, n);
}

struct TActCtxReleaser {
  void operator()(HANDLE context) const { ReleaseActCtx(context); }
};
using TActCtx = std::unique_ptr<std::remove_pointer_t<HANDLE>, TActCtxReleaser>;

// The file the current activation context redirects name to; "" when it
// does but its folder is unknown, nothing when it redirects no such name.
std::optional<std::string> AssemblyPath(const char* name) {
  ACTCTX_SECTION_KEYED_DATA data{};
  data.cbSize = sizeof data;
  if (!FindActCtxSectionStringA(FIND_ACTCTX_SECTION_KEY_RETURN_HACTCTX, nullptr,
                                ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name, &data))
    return std::nullopt;
  if (!data.hActCtx)
    return std::string();
  const TActCtx context(data.hActCtx);
  DWORD index = data.ulAssemblyRosterIndex;
  SIZE_T size = 0;
  QueryActCtxW(0, context.get(), &index, AssemblyDetailedInformationInActivationContext, nullptr, 0,
               &size);
  if (size < sizeof(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION))
    return std::string();
  std::vector<unsigned char> buffer(size);
  if (!QueryActCtxW(0, context.get(), &index, AssemblyDetailedInformationInActivationContext,
                    buffer.data(), size, &size))
    return std::string();
  const auto* info =
      reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
  if (!info->lpAssemblyDirectoryName)
    return std::string();
  std::string folder =
      Narrow(info->lpAssemblyDirectoryName, info->ulAssemblyDirectoryNameLength / sizeof(wchar_t));
  if (folder.empty())
    return std::string();
  // A shared assembly is named by its folder in the system's store.
  if (!IsAbsolute(folder)) {
    const std::string windows = WindowsFolder();
    if (windows.empty() || folder.find_first_of("\\/:") != std::string::npos || folder == "." ||
        folder == "..")
      return std::string();
    folder = windows + "\\WinSxS\\" + folder;
  }
  if (folder.back() != '\\')
    folder += '\\';
  return folder + name;
}

// Dependencies from the system folder only where the loader knows that
// request; elsewhere from the loaded library's own folder first.
HMODULE LoadByPath(const std::string& path) {
  const bool searchFlags =
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "AddDllDirectory") != nullptr;
  return LoadLibraryExA(path.c_str(), nullptr,
                        searchFlags
                            ? LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
                            : LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace

std::string SystemFolder() {
  char folder[MAX_PATH + 1] = {};
  const UINT n = GetSystemDirectoryA(folder, sizeof folder);
  return n == 0 || n >= sizeof folder ? std::string() : std::string(folder, n);
}

std::string SystemLibraryPath(const char* name) {
  const std::string folder = SystemFolder();
  return folder.empty() ? folder : folder + "\\" + name;
}

HMODULE LoadSystemLibrary(const char* name) {
  const std::string path = SystemLibraryPath(name);
  if (path.empty())
    return nullptr;
  return LoadByPath(path);
}

HMODULE LoadAssemblyLibrary(const char* name) {
  const std::optional<std::string> path = AssemblyPath(name);
  if (!path)
    return LoadSystemLibrary(name);
  if (!path->empty() && GetFileAttributesA(path->c_str()) != INVALID_FILE_ATTRIBUTES)
    if (const HMODULE library = LoadByPath(*path))
      return library;
  // The loader resolves the name through the same redirection, ahead of any
  // folder it would search.
  return LoadLibraryA(name);
}

} // namespace ui
