// The wizard form: six pages stacked on one spot, the moves between them and
// the start-up decision whether the product is already installed.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "mx/mxLinkLabel.h"
#include "mx/mxStorage.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/StdCtrls.h"

namespace setup {

inline constexpr const char* SUninstallReady = "You are now ready to uninstall QLX Tessel 3 SE";
inline constexpr const char* SUninstallStart = "Please click \"Start\" to uninstall";
inline constexpr const char* SInstallReady = "You are now ready to install QLX Tessel 3 SE";
inline constexpr const char* SInstallStart = "Please click \"Start\" to install";
inline constexpr const char* SFolderSuffix = "\\QLXT3SE";
// The screen reader's name of the finish page's thumbnail and of the viewer's picture.
inline constexpr const char* SScreenshotName =
    "Screenshot: QLX Tessel in My Computer, in the Other drives group";
inline constexpr uint32_t SBrowseFlags = 0x41; // file-system folders only, new dialog style

inline constexpr const char* SLibraryFileName = "QLX_Tessel_3.dll";
inline constexpr const char* SUninstallerFileName = "Uninstall.exe";
inline constexpr const char* SInstallFailed =
    "Installation failed!\r\nPlease contact QLX Support - support@quillon-software.example";
inline constexpr const char* SUninstallDone = "Uninstall successfull";
inline constexpr const char* SNotInstalled =
    "QLX Tessel 3 Starter Edition is not installed: nothing was removed.";
inline constexpr const char* SRestartFailed =
    "Unable to restart windows.\r\nPlease restart your computer manually.";
inline constexpr uint32_t SRestartFlags = 6; // EWX_REBOOT | EWX_FORCE

// Path forms of the folder field's text, walked by characters of the code
// page (a double-byte character's second byte may be 0x5C).
std::string WithDelimiter(const std::string& folder, UINT codePage = CP_ACP);
std::string WithoutDelimiter(const std::string& folder, UINT codePage = CP_ACP);
// Creates the folder and its missing parents and returns those it created,
// parents first; raises "Unable to create directory" for an empty name,
// other failures show up later. Each folder it creates gets
// FolderSecurityRules, not its parent's; folders that exist stay as they are.
std::vector<std::string> ForceDirectories(const std::string& folder);
// The folder text as "Start" uses it throughout: "/" taken as the delimiter
// it stands for.
std::string NormalisedFolder(const std::string& folder);
// The program files folder's rules, kept from the parent: full control for
// SYSTEM and Administrators, read and execute for Users, for the folder and
// everything in it.
inline constexpr const char* SFolderSecurityRules =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The system's folder creation, replaceable so that a test can see the
// security asked for where Wine keeps none.
using TCreateDirectoryProc = BOOL(WINAPI*)(LPCSTR path, LPSECURITY_ATTRIBUTES attributes);
extern TCreateDirectoryProc CreateDirectoryProc;

// Whether two paths name one existing file, by volume and file index rather
// than spelling; false when either cannot be opened.
bool SameFile(const std::string& a, const std::string& b);

inline constexpr const char* SDamagedSetup =
    "The setup program is damaged (%s). Nothing was changed; please download it again.";
// The longest file name of the stored items.
size_t LongestFileName(const mx::TmxStorage& storage);

// The system's shutdown request, replaceable so that a test can see the flags
// without ending the session it runs in.
using TExitWindowsProc = BOOL(WINAPI*)(UINT flags, DWORD reason);
extern TExitWindowsProc ExitWindowsProc;

// Enables the shutdown privilege where the platform has one and asks the
// system to shut down with flags; true when the request was accepted.
bool RestartWindows(uint32_t flags);

// Every "\\" becomes "\", scanning left to right without overlap, by characters.
std::string CollapseDoubleDelimiters(const std::string& path, UINT codePage = CP_ACP);
// The folder of a file path: cut after the last "\" or ":", then without a
// trailing "\"; by characters.
std::string FolderOfFile(const std::string& path, UINT codePage = CP_ACP);

class TForm1 : public ui::TForm {
public:
  explicit TForm1(rtl::TComponent* owner);
  const char* ClassName() const override { return "TForm1"; }

  void FormCreate(rtl::TObject* sender);
  void Button1Click(rtl::TObject* sender);
  void Button2Click(rtl::TObject* sender);
  void Button3Click(rtl::TObject* sender);
  void Button5Click(rtl::TObject* sender);
  void CheckBox1Click(rtl::TObject* sender);
  void Button7Click(rtl::TObject* sender);
  void Button8Click(rtl::TObject* sender);
  void Button9Click(rtl::TObject* sender);
  void Button10Click(rtl::TObject* sender);
  void Button12Click(rtl::TObject* sender);
  void Edit1Change(rtl::TObject* sender);
  void Button15Click(rtl::TObject* sender);
  void Image1Click(rtl::TObject* sender);
  void Button14Click(rtl::TObject* sender);
  void Button17Click(rtl::TObject* sender);

  // Raises the page; the framework moves the focus into it.
  void ShowPage(ui::TPanel* page);

  // The controls the handlers use, found by name once the form is read.
  ui::TPanel *Panel1 = nullptr, *Panel2 = nullptr, *Panel3 = nullptr, *Panel4 = nullptr,
             *Panel5 = nullptr, *Panel6 = nullptr;
  ui::TButton *Button3 = nullptr, *Button10 = nullptr, *Button13 = nullptr, *Button14 = nullptr,
              *Button15 = nullptr;
  ui::TCheckBox* CheckBox1 = nullptr;
  ui::TRadioButton *RadioButton1 = nullptr, *RadioButton2 = nullptr, *RadioButton3 = nullptr,
                   *RadioButton4 = nullptr;
  ui::TEdit* Edit1 = nullptr;
  ui::TLabel *Label9 = nullptr, *Label14 = nullptr, *Label15 = nullptr, *Label17 = nullptr;
  mx::TmxStorage* mxStorage1 = nullptr;

protected:
  void Loaded() override;

private:
  // The steps of "Start", on the folder text as NormalisedFolder gives it.
  // The first checks the folder before anything is changed; false after it
  // showed why not. The second is step A: it returns the library path it
  // unregistered, empty when none was registered.
  bool InstallCanStart(const std::string& folder);
  std::wstring UnregisterExisting();
  void Install(const std::string& folder);
  // Whether the folder's library exists and is then registered at its path.
  bool RegisterLibrary(const std::string& folder);
  void InstallFailed();
  // The uninstall record and the settings value, then the finish page.
  void Record(const std::string& folder);
  void Uninstall(const std::string& installedFolder);
  void WriteUninstallRecord(const std::string& folder);
};

extern TForm1* Form1;

// TForm1's entry in the filer's class registry.
void RegisterForm1Class();
// Every class the setup program's two forms are built from.
void RegisterSetupClasses();

} // namespace setup
