// Stand-in for the product's uninstaller, which the uninstall record names.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  MessageBoxA(nullptr,
              "To remove QLX Tessel 3 Starter Edition, run its setup program and choose "
              "\"UnInstall\".",
              "QLXT3SE", MB_OK | MB_ICONINFORMATION);
  return 0;
}
