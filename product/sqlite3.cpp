// Stand-in for the product's database library: the real sqlite3.dll replaces
// this file in a maker's build (see README).
#include <windows.h>

extern "C" __declspec(dllexport) const char* sqlite3_libversion() {
  return "stand-in";
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
