// The picture viewer: the full-size screenshot of where the product is found,
// shown without modality and hidden again on close.
#pragma once

#include "ui/Forms.h"

namespace setup {

class TForm3 : public ui::TForm {
public:
  explicit TForm3(rtl::TComponent* owner);
  const char* ClassName() const override { return "TForm3"; }
  void Image1Click(rtl::TObject* sender);

protected:
  void Loaded() override;
};

extern TForm3* Form3;
// Makes Form3 when it is not there yet; set by the program, which reads the
// viewer only after the first page is drawn.
extern void (*MakeForm3)();

void RegisterForm3Class();

} // namespace setup
