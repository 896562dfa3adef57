// Fuzz target: the form reader with the payload store, then extraction of
// whatever it loaded. Any exception is a clean rejection; a crash, leak or
// hang is a fault.
#include "mx/mxStorage.h"
#include "rtl/Filer.h"
#include "rtl/SysUtils.h"

#include <cstddef>
#include <cstdint>

namespace {

class TForm1 : public rtl::TComponent {
public:
  using rtl::TComponent::TComponent;
  const char* ClassName() const override { return "TForm1"; }
};

// Swallows content, so extraction costs no disk.
class TNullStream : public rtl::TStream {
public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t count) override { return count; }
  int64_t Seek(int64_t, rtl::TSeekOrigin) override { return 0; }
};

bool Registered = [] {
  mx::RegisterStorageClasses();
  rtl::TClassBuilder<TForm1>("TForm1", "TComponent").Creatable().Register();
  return true;
}();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TForm1 form(nullptr);
  try {
    rtl::TReadOnlyMemoryStream in(data, size);
    rtl::TReader reader(in);
    reader.ReadRootComponent(&form);
  } catch (const rtl::Exception&) {
    return 0;
  }
  for (int i = 0; i < form.ComponentCount(); ++i) {
    auto* store = dynamic_cast<mx::TmxStorage*>(form.Components(i));
    if (!store)
      continue;
    (void)store->Ratio();
    for (int j = 0; j < store->StoredItems()->Count(); ++j) {
      mx::TmxStoredItem* item = store->GetStoredItem(j);
      (void)item->Ratio();
      try {
        TNullStream sink;
        item->SaveToStream(&sink);
      } catch (const rtl::Exception&) {
      }
    }
  }
  return 0;
}
