#include "Unit1.h"

#include "Unit2.h"
#include "Unit3.h"
#include "ui/Application.h"

namespace setup {

TForm1* Form1 = nullptr;

std::string CollapseDoubleDelimiters(const std::string& path) {
  std::string result;
  result.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    result += path[i];
    if (path[i] == '\\' && i + 1 < path.size() && path[i + 1] == '\\')
      ++i;
  }
  return result;
}

std::string FolderOfFile(const std::string& path) {
  const size_t cut = path.find_last_of("\\:");
  std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
  if (!folder.empty() && folder.back() == '\\')
    folder.pop_back();
  return folder;
}

namespace {

template <typename T> T* Find(const TForm1& form, const char* name) {
  auto* control = dynamic_cast<T*>(form.FindComponent(name));
  if (!control)
    throw rtl::Exception(rtl::Format("Component %s not found", name));
  return control;
}

} // namespace

TForm1::TForm1(rtl::TComponent* owner) : ui::TForm(owner) {
  AddHandler("FormCreate", &TForm1::FormCreate);
  AddHandler("Button1Click", &TForm1::Button1Click);
  AddHandler("Button2Click", &TForm1::Button2Click);
  AddHandler("Button3Click", &TForm1::Button3Click);
  AddHandler("Button5Click", &TForm1::Button5Click);
  AddHandler("CheckBox1Click", &TForm1::CheckBox1Click);
  AddHandler("Button7Click", &TForm1::Button7Click);
  AddHandler("Button8Click", &TForm1::Button8Click);
  AddHandler("Button9Click", &TForm1::Button9Click);
  AddHandler("Button10Click", &TForm1::Button10Click);
  AddHandler("Button12Click", &TForm1::Button12Click);
  AddHandler("Edit1Change", &TForm1::Edit1Change);
  AddHandler("Button15Click", &TForm1::Button15Click);
  AddHandler("Image1Click", &TForm1::Image1Click);
}

void TForm1::Loaded() {
  ui::TForm::Loaded();
  Panel1 = Find<ui::TPanel>(*this, "Panel1");
  Panel2 = Find<ui::TPanel>(*this, "Panel2");
  Panel3 = Find<ui::TPanel>(*this, "Panel3");
  Panel4 = Find<ui::TPanel>(*this, "Panel4");
  Panel5 = Find<ui::TPanel>(*this, "Panel5");
  Panel6 = Find<ui::TPanel>(*this, "Panel6");
  Button3 = Find<ui::TButton>(*this, "Button3");
  Button10 = Find<ui::TButton>(*this, "Button10");
  CheckBox1 = Find<ui::TCheckBox>(*this, "CheckBox1");
  RadioButton1 = Find<ui::TRadioButton>(*this, "RadioButton1");
  RadioButton2 = Find<ui::TRadioButton>(*this, "RadioButton2");
  RadioButton3 = Find<ui::TRadioButton>(*this, "RadioButton3");
  Edit1 = Find<ui::TEdit>(*this, "Edit1");
  Label9 = Find<ui::TLabel>(*this, "Label9");
  Label14 = Find<ui::TLabel>(*this, "Label14");
  Label15 = Find<ui::TLabel>(*this, "Label15");
  Label17 = Find<ui::TLabel>(*this, "Label17");
  mxStorage1 = Find<mx::TmxStorage>(*this, "mxStorage1");
}

void TForm1::ShowPage(ui::TPanel* page) {
  page->BringToFront();
}

void TForm1::FormCreate(rtl::TObject*) {
  ShowPage(Panel1);
  Edit1->SetText(WideToAnsi(GetProgramFilesDir()) + SFolderSuffix);
  const bool installed = !GetInstalledServerPath().empty();
  if (installed)
    RadioButton2->SetChecked(true);
  else
    RadioButton1->SetChecked(true);
  RadioButton1->SetEnabled(!installed);
  RadioButton2->SetEnabled(installed);
  RadioButton3->SetEnabled(installed);
}

void TForm1::Button1Click(rtl::TObject*) {
  ui::Application->Terminate();
}

void TForm1::Button2Click(rtl::TObject*) {
  ShowPage(Panel2);
}

void TForm1::Button5Click(rtl::TObject*) {
  ShowPage(Panel1);
}

void TForm1::Button3Click(rtl::TObject*) {
  ShowPage(Panel3);
}

void TForm1::CheckBox1Click(rtl::TObject*) {
  Button3->SetEnabled(CheckBox1->Checked());
}

void TForm1::Button8Click(rtl::TObject*) {
  ShowPage(Panel2);
}

void TForm1::Button7Click(rtl::TObject*) {
  if (RadioButton3->Checked()) {
    ShowPage(Panel5);
    Label14->SetCaption(SUninstallReady);
    Label15->SetCaption(SUninstallStart);
    Label17->SetCaption(FolderOfFile(WideToAnsi(GetInstalledServerPath())));
  } else {
    Label14->SetCaption(SInstallReady);
    Label15->SetCaption(SInstallStart);
    Label17->SetCaption(Edit1->Text());
    ShowPage(Panel4);
  }
}

void TForm1::Button9Click(rtl::TObject*) {
  ShowPage(Panel3);
}

void TForm1::Button10Click(rtl::TObject*) {
  ShowPage(Panel5);
}

void TForm1::Button12Click(rtl::TObject*) {
  std::string folder;
  SelectFolder(Label9->Caption(), SBrowseFlags, folder);
  if (folder.empty())
    return;
  Edit1->SetText(folder + SFolderSuffix);
  Edit1->SetText(CollapseDoubleDelimiters(Edit1->Text()));
}

void TForm1::Edit1Change(rtl::TObject*) {
  Button10->SetEnabled(!Edit1->Text().empty());
  Label17->SetCaption(Edit1->Text());
}

void TForm1::Button15Click(rtl::TObject*) {
  ShowPage(RadioButton3->Checked() ? Panel3 : Panel4);
}

void TForm1::Image1Click(rtl::TObject*) {
  if (Form3)
    Form3->Show();
}

void RegisterForm1Class() {
  ui::RegisterControlClasses();
  if (!rtl::FindClassInfo("TForm1"))
    rtl::TClassBuilder<TForm1>("TForm1", "TForm").Register();
}

} // namespace setup
