// The setup program's entry: the application object, the wizard form and the
// picture viewer, then the message loop.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include <windows.h>

#include "Unit1.h"
#include "Unit3.h"
#include "mx/mxLinkLabel.h"
#include "mx/mxStorage.h"
#include "ui/Application.h"

namespace {

// DLLs are taken from System32 only, never from the folder the program was
// downloaded to. Looked up at run time: Windows 7 has it only with an update.
void RestrictDllSearch() {
  using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto set = reinterpret_cast<TSetDefaultDllDirectories>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set)
    set(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryA("");
}

} // namespace

// Takes the place of the C++ library's own terminate handler, which names the
// exception's type through the demangler: a large piece of code that the
// program would carry for a message no one sees. This one writes the message
// of a std::exception only, then aborts as that one does.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "terminate called after throwing an exception\n  what():  %s\n",
                   e.what());
    } catch (...) {
      std::fputs("terminate called after throwing an exception\n", stderr);
    }
  } else {
    std::fputs("terminate called without an active exception\n", stderr);
  }
  std::abort();
}
} // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  ui::TApplication application;
  try {
    application.Initialize();
    application.SetTitle("QLXT3SE");
    mx::RegisterStorageClasses();
    mx::RegisterLinkLabelClass();
    setup::RegisterForm1Class();
    setup::RegisterForm3Class();
    auto form1 = std::make_unique<setup::TForm1>(nullptr);
    setup::Form1 = form1.get();
    form1->LoadFromResource("TFORM1");
    auto form3 = std::make_unique<setup::TForm3>(nullptr);
    setup::Form3 = form3.get();
    form3->LoadFromResource("TFORM3");
    form1->Show();
    application.Run();
    setup::Form3 = nullptr;
    setup::Form1 = nullptr;
  } catch (const std::exception& e) {
    application.ShowException(e);
    return 1;
  }
  return 0;
}
