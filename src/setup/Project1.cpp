// The setup program's entry: the application object, the wizard form and the
// picture viewer, then the message loop.
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

std::unique_ptr<setup::TForm3> GViewer;
bool GViewerFailed = false;

void MakeViewer() {
  if (setup::Form3 || GViewerFailed)
    return;
  try {
    auto viewer = std::make_unique<setup::TForm3>(nullptr);
    viewer->LoadFromResource("TFORM3");
    GViewer = std::move(viewer);
    setup::Form3 = GViewer.get();
  } catch (const std::exception& e) {
    // Ends the program as a failure, as before the wizard showed it would.
    ui::Application->ShowException(e);
    ui::Application->Terminate();
    GViewerFailed = true;
  }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  ui::TApplication application;
  try {
    application.Initialize();
    application.SetTitle("QLXT3SE");
    setup::RegisterSetupClasses();
    auto form1 = std::make_unique<setup::TForm1>(nullptr);
    setup::Form1 = form1.get();
    form1->LoadFromResource("TFORM1");
    form1->Show();
    // The viewer opens from the last page only: it is read once the first
    // page has been drawn, or at the thumbnail's click if that comes first.
    setup::MakeForm3 = &MakeViewer;
    application.RunWhenIdle(&MakeViewer);
    application.Run();
    setup::MakeForm3 = nullptr;
    setup::Form3 = nullptr;
    GViewer.reset();
    setup::Form1 = nullptr;
    if (GViewerFailed)
      return 1;
  } catch (const std::exception& e) {
    application.ShowException(e);
    return 1;
  }
  return 0;
}
