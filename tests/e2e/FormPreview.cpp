// Shows a page of the wizard, or the viewer, built from the compiled form
// streams, for screenshots of what the setup program reaches only after an
// install (the finish page and the viewer).
//   qlx_form_preview FORM1.bin FORM3.bin finish|viewer
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "mx/mxLinkLabel.h"
#include "mx/mxStorage.h"
#include "rtl/Streams.h"
#include "setup/Unit1.h"
#include "setup/Unit3.h"
#include "ui/Application.h"

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
  rtl::TFileStream file(path, rtl::TFileMode::fmOpenRead);
  std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
  file.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

template <typename F> std::unique_ptr<F> LoadForm(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  rtl::TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  auto form = std::make_unique<F>(nullptr);
  form->ReadForm(stream);
  return form;
}

// As the setup program's manifest asks, so the pages show as it shows them.
void BecomeDpiAware() {
  using TSet = BOOL(WINAPI*)(HANDLE);
  auto set = reinterpret_cast<TSet>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDpiAwarenessContext")));
  if (set)
    set(reinterpret_cast<HANDLE>(-4)); // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 4)
    return 2;
  BecomeDpiAware();
  ui::TApplication application;
  try {
    application.Initialize();
    application.SetTitle("QLXT3SE");
    setup::RegisterSetupClasses();
    auto form1 = LoadForm<setup::TForm1>(argv[1]);
    setup::Form1 = form1.get();
    auto form3 = LoadForm<setup::TForm3>(argv[2]);
    setup::Form3 = form3.get();
    if (std::string(argv[3]) == "viewer") {
      form3->Show();
    } else {
      form1->ShowPage(form1->Panel6);
      form1->Show();
    }
    application.Run();
  } catch (const std::exception& e) {
    application.ShowException(e);
    return 1;
  }
  return 0;
}
