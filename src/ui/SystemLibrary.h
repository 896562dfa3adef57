// Libraries the framework loads at run time, named by their full path so that
// no copy beside the program (its download folder) is ever taken instead.
#pragma once

#include <string>

#include <windows.h>

namespace ui {

// The system folder (System32, or what WOW64 maps it to), or "".
std::string SystemFolder();

// The path of name in the system folder, or "" when the folder is unknown.
std::string SystemLibraryPath(const char* name);

// Loads name from the system folder, its own dependencies from there as well;
// null (with the last error set) when it cannot.
HMODULE LoadSystemLibrary(const char* name);

// Loads name from the side-by-side assembly the program's manifest binds it
// to (the common controls 6), and from the system folder when no assembly
// does.
HMODULE LoadAssemblyLibrary(const char* name);

} // namespace ui
