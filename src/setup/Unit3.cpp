#include "Unit3.h"

#include "rtl/Filer.h"

namespace setup {

TForm3* Form3 = nullptr;

TForm3::TForm3(rtl::TComponent* owner) : ui::TForm(owner) {
  AddHandler("Image1Click", &TForm3::Image1Click);
}

void TForm3::Image1Click(rtl::TObject*) {
  Close();
}

void RegisterForm3Class() {
  ui::RegisterControlClasses();
  if (!rtl::FindClassInfo("TForm3"))
    rtl::TClassBuilder<TForm3>("TForm3", "TForm").Register();
}

} // namespace setup
