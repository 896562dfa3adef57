#include "Unit3.h"

#include "Unit1.h"
#include "rtl/Filer.h"
#include "ui/ExtCtrls.h"

namespace setup {

TForm3* Form3 = nullptr;
void (*MakeForm3)() = nullptr;

TForm3::TForm3(rtl::TComponent* owner) : ui::TForm(owner) {
  AddHandler("Image1Click", &TForm3::Image1Click);
}

void TForm3::Loaded() {
  ui::TForm::Loaded();
  if (auto* picture = dynamic_cast<ui::TImage*>(FindComponent("Image1"))) {
    picture->SetAccessibleName(SScreenshotName);
    picture->SetAccessibleAction("Close");
  }
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
