#include "Unit1.h"

#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "ChangeLock.h"
#include "StagedInstall.h"
#include "Unit2.h"
#include "Unit3.h"
#include "rtl/SysUtils.h"
#include "ui/Application.h"
#include "ui/WinHandles.h"

namespace setup {

TForm1* Form1 = nullptr;

std::string CollapseDoubleDelimiters(const std::string& path, UINT codePage) {
  std::string result;
  result.reserve(path.size());
  bool afterDelimiter = false;
  for (size_t at = 0; at < path.size();) {
    const size_t length = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(path[at])) ? 2 : 1;
    const bool delimiter = length == 1 && path[at] == '\\';
    // The second of a pair goes; a third starts a new pair.
    if (!(delimiter && afterDelimiter))
      result.append(path, at, length);
    afterDelimiter = delimiter && !afterDelimiter;
    at += length;
  }
  return result;
}

std::string FolderOfFile(const std::string& path, UINT codePage) {
  return WithoutDelimiter(InstalledFolderOf(path, codePage), codePage);
}

std::string WithDelimiter(const std::string& folder, UINT codePage) {
  return !folder.empty() && EndsWithDelimiter(folder, "\\", codePage) ? folder : folder + '\\';
}

std::string WithoutDelimiter(const std::string& folder, UINT codePage) {
  return EndsWithDelimiter(folder, "\\", codePage) ? folder.substr(0, folder.size() - 1) : folder;
}

namespace {

// A security descriptor made from its text form, freed as the system asks.
class TSecurityDescriptor {
public:
  explicit TSecurityDescriptor(const char* rules) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(rules, SDDL_REVISION_1, &FDescriptor,
                                                              nullptr))
      throw rtl::EOSError(rtl::SysErrorMessage(GetLastError()));
  }
  ~TSecurityDescriptor() { LocalFree(FDescriptor); }
  TSecurityDescriptor(const TSecurityDescriptor&) = delete;
  TSecurityDescriptor& operator=(const TSecurityDescriptor&) = delete;
  PSECURITY_DESCRIPTOR Get() const { return FDescriptor; }

private:
  PSECURITY_DESCRIPTOR FDescriptor = nullptr;
};

} // namespace

TCreateDirectoryProc CreateDirectoryProc = &CreateDirectoryA;

std::vector<std::string> ForceDirectories(const std::string& folder) {
  if (folder.empty())
    throw rtl::Exception("Unable to create directory");
  // The product's library is loaded by every user's shell: a folder made
  // under a drive root would let any user replace it.
  const TSecurityDescriptor rules(SFolderSecurityRules);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, rules.Get(), FALSE};
  std::vector<std::string> created;
  const auto create = [&](const std::string& path) {
    if (CreateDirectoryProc(path.c_str(), &attributes))
      created.push_back(path);
  };
  // Every parent first; those that exist already refuse silently. By
  // characters: a second byte of 0x5C in a double-byte character is no
  // delimiter.
  const char* const text = folder.c_str();
  char previous = 0;
  for (const char* at = text; *at; at = CharNextA(at)) {
    if (*at == '\\' && at != text && previous != ':' && previous != '\\')
      create(std::string(text, at));
    previous = *at;
  }
  create(folder);
  return created;
}

std::string NormalisedFolder(const std::string& folder) {
  // No lead or trail byte of a double-byte code page is below 0x40, so "/"
  // is always a character of its own.
  std::string result = folder;
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

TExitWindowsProc ExitWindowsProc = &ExitWindowsEx;

namespace {

// Read-only access to a file's identity; sharing everything, so that a file
// in use can be looked at too.
ui::THandle OpenForIdentity(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return ui::THandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  const ui::THandle file = OpenForIdentity(path);
  return file && GetFileInformationByHandle(file.Get(), &info);
}

// Keeps the page's buttons disabled while "Start" runs: the waits for the
// registration tool process messages, and a second "Start", "Back" or "Exit"
// must not run inside them.
class TControlsDisabled {
public:
  explicit TControlsDisabled(std::vector<ui::TControl*> controls) : FControls(std::move(controls)) {
    for (ui::TControl* control : FControls) {
      FWasEnabled.push_back(control->Enabled());
      control->SetEnabled(false);
    }
  }
  ~TControlsDisabled() {
    for (size_t i = 0; i < FControls.size(); ++i)
      FControls[i]->SetEnabled(FWasEnabled[i]);
  }
  TControlsDisabled(const TControlsDisabled&) = delete;
  TControlsDisabled& operator=(const TControlsDisabled&) = delete;

private:
  std::vector<ui::TControl*> FControls;
  std::vector<bool> FWasEnabled;
};

struct THandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using TTokenHandle = std::unique_ptr<void, THandleCloser>;

void EnableShutdownPrivilege() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw))
    return;
  const TTokenHandle token(raw);
  TOKEN_PRIVILEGES wanted{};
  if (!LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &wanted.Privileges[0].Luid))
    return;
  wanted.PrivilegeCount = 1;
  wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // Room for exactly one privilege entry.
  TOKEN_PRIVILEGES previous{};
  static_assert(sizeof previous == 16);
  DWORD returned = 0;
  AdjustTokenPrivileges(token.get(), FALSE, &wanted, sizeof previous, &previous, &returned);
}

bool IsNtPlatform() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

} // namespace

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  return FileIdentity(a, first) && FileIdentity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

size_t LongestFileName(const mx::TmxStorage& storage) {
  size_t longest = 0;
  for (int i = 0; i < storage.StoredItems()->Count(); ++i)
    longest = std::max(longest, storage.GetStoredItem(i)->FileName().size());
  return longest;
}

bool RestartWindows(uint32_t flags) {
  if (IsNtPlatform())
    EnableShutdownPrivilege();
  return ExitWindowsProc(flags, 0) != FALSE;
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
  AddHandler("Button14Click", &TForm1::Button14Click);
  AddHandler("Button17Click", &TForm1::Button17Click);
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
  Button13 = Find<ui::TButton>(*this, "Button13");
  Button14 = Find<ui::TButton>(*this, "Button14");
  Button15 = Find<ui::TButton>(*this, "Button15");
  CheckBox1 = Find<ui::TCheckBox>(*this, "CheckBox1");
  RadioButton1 = Find<ui::TRadioButton>(*this, "RadioButton1");
  RadioButton2 = Find<ui::TRadioButton>(*this, "RadioButton2");
  RadioButton3 = Find<ui::TRadioButton>(*this, "RadioButton3");
  RadioButton4 = Find<ui::TRadioButton>(*this, "RadioButton4");
  Edit1 = Find<ui::TEdit>(*this, "Edit1");
  Label9 = Find<ui::TLabel>(*this, "Label9");
  Label14 = Find<ui::TLabel>(*this, "Label14");
  Label15 = Find<ui::TLabel>(*this, "Label15");
  Label17 = Find<ui::TLabel>(*this, "Label17");
  mxStorage1 = Find<mx::TmxStorage>(*this, "mxStorage1");
  // What a screen reader says of the thumbnail, which has no caption.
  auto* thumbnail = Find<ui::TImage>(*this, "Image1");
  thumbnail->SetAccessibleName(SScreenshotName);
  thumbnail->SetAccessibleAction("Open larger view");
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
  if (!Form3 && MakeForm3)
    MakeForm3();
  if (Form3)
    Form3->Show();
}

void TForm1::Button14Click(rtl::TObject*) {
  // Held for the whole action, so that no other setup or uninstaller
  // changes the product meanwhile; the registration is read after it.
  const TChangeLock lock;
  if (!lock.Held()) {
    ui::Application->MessageBox(SChangeLockBusy);
    return;
  }
  const TControlsDisabled busy({Button13, Button14, Button15});
  if (RadioButton1->Checked() || RadioButton2->Checked()) {
    // One text for every step: creating, writing, registering, recording.
    const std::string folder = NormalisedFolder(Edit1->Text());
    if (InstallCanStart(folder))
      Install(folder);
    return;
  }
  const std::wstring library = UnregisterExisting();
  if (RadioButton3->Checked()) {
    // With no library registered any more, no folder is known: bare file
    // names would point into the current folder.
    if (library.empty()) {
      ui::Application->MessageBox(SNotInstalled);
      ui::Application->Terminate();
      return;
    }
    Uninstall(InstalledFolderOf(WideToAnsi(library)));
  }
}

bool TForm1::InstallCanStart(const std::string& folder) {
  // The rule leaves room for the scratch names the files are staged under.
  std::string problem = InstallFolderProblem(folder, LongestFileName(*mxStorage1));
  // The registered library path is read back as a value of at most 255
  // characters: a longer one would be registered, then never found again.
  if (problem.empty() && WithDelimiter(folder).size() + std::strlen(SLibraryFileName) > 255)
    problem = "too long";
  if (!problem.empty()) {
    ui::Application->MessageBox(InvalidFolderText(Edit1->Text(), problem));
    return false;
  }
  return true;
}

std::wstring TForm1::UnregisterExisting() {
  const std::wstring library = GetInstalledServerPath();
  if (!library.empty())
    UnregisterAndRestartShell(library);
  return library;
}

bool TForm1::RegisterLibrary(const std::string& folder) {
  const std::string library = WithDelimiter(folder) + SLibraryFileName;
  if (!FileExists(library))
    return false;
  RegisterServer(AnsiToWide(library));
  // regsvr32 reports nothing: a library it could not register would be
  // recorded and shown as installed, yet never reached by the shell.
  return SameFile(WideToAnsi(GetInstalledServerPath()), library);
}

void TForm1::InstallFailed() {
  ui::Application->MessageBox(SInstallFailed);
  ui::Application->Terminate();
}

#ifdef QLX_UNCHECKED_PAYLOAD // the install benchmark's baseline: written in place, unchecked

void TForm1::Install(const std::string& folder) {
  UnregisterExisting();
  ForceDirectories(WithoutDelimiter(folder));
  const int count = mxStorage1->StoredItems()->Count();
  for (int i = 0; i < count; ++i) {
    mx::TmxStoredItem* item = mxStorage1->GetStoredItem(i);
    item->ExtractToFile(WithDelimiter(folder) + item->FileName());
  }
  if (!RegisterLibrary(folder))
    return InstallFailed();
  Record(folder);
}

#else

void TForm1::Install(const std::string& folder) {
  // Every file is written and checked before the old product is touched.
  TStagedInstall staged(*mxStorage1, WithoutDelimiter(folder));
  const std::wstring old = UnregisterExisting();
  // Until the new library is registered, a failure leaves the old product
  // as it was, registration included.
  const auto registerOldAgain = [&] {
    if (!old.empty())
      RegisterServer(old);
  };
  try {
    staged.Swap();
  } catch (...) {
    registerOldAgain();
    throw;
  }
  if (!RegisterLibrary(folder)) {
    staged.PutBack();
    registerOldAgain();
    return InstallFailed();
  }
  staged.Commit();
  Record(folder);
}

#endif

void TForm1::Record(const std::string& folder) {
  WriteUninstallRecord(WithDelimiter(folder));
  WriteRegistryString(SPreferencesKey, SInstallFolderValue, WithoutDelimiter(folder),
                      HKEY_CLASSES_ROOT);
  ShowPage(Panel6);
}

void TForm1::WriteUninstallRecord(const std::string& folder) {
  const auto write = [](const char* name, const std::string& data) {
    WriteRegistryString(SUninstallKey, name, data, HKEY_LOCAL_MACHINE);
  };
  write("DisplayName", "QLX Tessel 3 Starter Edition");
  // Quoted: unquoted, a folder with blanks could start "C:\Program.exe".
  write("UninstallString", "\"" + folder + SUninstallerFileName + "\"");
  write("DisplayVersion", "3.0 (build 6.2.15.1)");
  write("HelpLink", "http://www.quillon-software.example/PageProducer.aspx?pageid=1&bodyid=400");
  write("Publisher", "Quillon Software Company");
  write("URLInfoAbout",
        "http://www.quillon-software.example/PageProducer.aspx?PageID=1&BodyID=500");
}

void TForm1::Uninstall(const std::string& installedFolder) {
  std::vector<std::string> names;
  for (int i = 0; i < mxStorage1->StoredItems()->Count(); ++i) {
    const std::string& name = mxStorage1->GetStoredItem(i)->FileName();
    // Only a name that stays inside the folder; nothing outside it is ours.
    if (IsUsableFileName(name))
      names.push_back(name);
  }
  const std::string inUse = DeleteProductFiles(installedFolder, names);
  if (!inUse.empty()) {
    ui::Application->MessageBox(AccessDeniedText(inUse));
    ui::Application->Terminate();
    return;
  }
  RemoveUninstallerFolderAndRecord(installedFolder);
  ui::Application->MessageBox(SUninstallDone);
  ui::Application->Terminate();
}

void TForm1::Button17Click(rtl::TObject*) {
  if (RadioButton4->Checked() && !RestartWindows(SRestartFlags))
    ui::Application->ErrorDialog(SRestartFailed);
  ui::Application->Terminate();
}

void RegisterForm1Class() {
  ui::RegisterControlClasses();
  if (!rtl::FindClassInfo("TForm1"))
    rtl::TClassBuilder<TForm1>("TForm1", "TForm").Register();
}

void RegisterSetupClasses() {
  mx::RegisterStorageClasses();
  mx::RegisterLinkLabelClass();
  RegisterForm1Class();
  RegisterForm3Class();
}

} // namespace setup
