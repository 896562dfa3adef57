// Loads one DLL by its plain name, as a program that never narrowed the DLL
// search would:  qlx_planting_probe NAME [system32]
// With "system32" it first narrows the search the way the setup program does.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc < 2)
    return 2;
  if (argc > 2 && lstrcmpiA(argv[2], "system32") == 0)
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return LoadLibraryA(argv[1]) ? 0 : 1;
}
