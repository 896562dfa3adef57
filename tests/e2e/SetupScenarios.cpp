// The real setup program end to end under Wine, driven through window
// messages only: new installs, reinstalls and uninstalls, and the failures a
// user can meet, each checked against the files, Wine's registry and
// Wine's regsvr32.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <string_view>

#include "Scenario.h"
#include "SetupDriver.h"

// After windows.h, which Scenario.h brings.
#include <shellapi.h>

using namespace e2e;

namespace {

const std::string kRoot = "C:\\QLX e2e";
// The small disk that the e2e-disk fixture mounts as T:.
const std::string kDisk = "T:";
const std::string kDiskFolder = kDisk + "\\QLXT3SE";
const std::string kFiller = kDisk + "\\filler.bin";

constexpr const char* SShellNotice = "Shell restart needed...";
constexpr const char* SInstallFailed = "Installation failed!\r\nPlease contact QLX Support - ";

// Another build's setup program and product (a signed build's) in place of
// this build's, where the environment names them.
const char* Override(const char* variable, const char* built) {
  const char* other = std::getenv(variable);
  return other && *other ? other : built;
}

std::string Program(const char* path) {
  if (std::string_view(path) == QLX_SETUP_EXE)
    path = Override("QLX_E2E_SETUP_EXE", QLX_SETUP_EXE);
  return WindowsPath(path);
}

std::string Payload(const std::string& name) {
  const std::string product = Override("QLX_E2E_PRODUCT_DIR", QLX_PRODUCT_DIR);
  return ReadBytes(WindowsPath(product + "/" + name)).value_or("<no payload file " + name + ">");
}

std::string Installed(const std::string& folder, const std::string& name) {
  return ReadBytes(folder + "\\" + name).value_or("<missing>");
}

std::vector<std::string> SortedProductFiles() {
  std::vector<std::string> names(std::begin(kProductFiles), std::end(kProductFiles));
  std::sort(names.begin(), names.end());
  return names;
}

std::string Record(const char* value) {
  return RegistryString(HKEY_LOCAL_MACHINE, SUninstallKey, value).value_or("<missing>");
}

// A completed install into folder (given without a trailing delimiter).
void ExpectInstalled(const std::string& folder) {
  for (const char* name : kProductFiles)
    EXPECT_EQ(Installed(folder, name), Payload(name)) << folder << "\\" << name;
  EXPECT_EQ(RegisteredLibrary(), folder + "\\QLX_Tessel_3.dll") << "registered by regsvr32";
  EXPECT_EQ(Record("DisplayName"), "QLX Tessel 3 Starter Edition");
  EXPECT_EQ(Record("UninstallString"), "\"" + folder + "\\Uninstall.exe\"");
  EXPECT_EQ(Record("DisplayVersion"), "3.0 (build 6.2.15.1)");
  EXPECT_EQ(Record("HelpLink"),
            "http://www.quillon-software.example/PageProducer.aspx?pageid=1&bodyid=400");
  EXPECT_EQ(Record("Publisher"), "Quillon Software Company");
  EXPECT_EQ(Record("URLInfoAbout"),
            "http://www.quillon-software.example/PageProducer.aspx?PageID=1&BodyID=500");
  EXPECT_EQ(DumpKey(HKEY_LOCAL_MACHINE, SUninstallKey).size(), 6u) << "six values, no subkeys";
  EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, SSettingsKey, "InstallFolder"), folder);
  ExpectOnlyIn32BitView(folder);
}

void ExpectNothingRecorded() {
  EXPECT_EQ(RegisteredLibrary(), "");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, SSettingsKey));
}

// The box of a file that the full disk had no room for, naming its final
// path and the system's reason.
void ExpectNoRoom(const TMessageBox& box, const std::string& path) {
  char reason[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 ERROR_DISK_FULL, 0, reason, sizeof reason, nullptr);
  std::string expected = reason;
  while (!expected.empty() &&
         (expected.back() == '.' || std::isspace(static_cast<unsigned char>(expected.back()))))
    expected.pop_back();
  EXPECT_EQ(box.Text, "Cannot create file \"" + path + "\". " + expected);
  EXPECT_EQ(box.Caption, "QLXT3SE");
}

// "Restart later", then "Finish": the program ends without a message.
void FinishWithoutRestart(TSetupProcess& setup) {
  const HWND w = setup.Wizard();
  EXPECT_TRUE(Checked(Visible(w, "Restart now"))) << "\"Restart now\" is preselected";
  EXPECT_TRUE(Click(w, "Restart later"));
  EXPECT_TRUE(PostClick(w, "Finish"));
  EXPECT_EQ(setup.WaitExit(30), 0) << "ended at once, no message";
}

// A reinstall through every page into the folder text, to the finish page.
void Reinstall(const std::string& folderText) {
  TSetupProcess setup(Program(QLX_SETUP_EXE));
  const HWND w = setup.Wizard();
  REQUIRE(w);
  REQUIRE(WalkToConfirmation(w, SReinstall, folderText));
  REQUIRE(PostClick(w, "Start"));
  TOutcome outcome = AwaitOutcome(setup);
  ExpectPlainBox(outcome.Box, SShellNotice);
  REQUIRE(PressOk(outcome.Box));
  outcome = AwaitOutcome(setup);
  EXPECT_FALSE(outcome.Box) << folderText << ": " << outcome.Box.Text;
  REQUIRE(outcome.Page == "finish");
  FinishWithoutRestart(setup);
}

// A new install through every page into folder, ended with "Restart later".
bool InstallNew(const char* program, const std::string& folder) {
  TSetupProcess setup(Program(program));
  const HWND w = setup.Wizard();
  EXPECT_NE(w, nullptr);
  if (!w || !WalkToConfirmation(w, SNewInstall, folder) || !PostClick(w, "Start"))
    return false;
  const TOutcome outcome = AwaitOutcome(setup);
  EXPECT_FALSE(outcome.Box) << "a new install shows no message: " << outcome.Box.Text;
  EXPECT_EQ(outcome.Page, "finish");
  if (outcome.Page != "finish")
    return false;
  FinishWithoutRestart(setup);
  return true;
}

// A new install of program into folder that ends with "Installation failed!",
// answered; the box it showed, or none when the install never got that far.
TMessageBox FailedInstall(const char* program, const std::string& folder) {
  TSetupProcess setup(Program(program));
  const HWND w = setup.Wizard();
  if (!w || !WalkToConfirmation(w, SNewInstall, folder) || !PostClick(w, "Start")) {
    ADD_FAILURE() << "could not start the install";
    return {};
  }
  const TOutcome outcome = AwaitOutcome(setup);
  EXPECT_EQ(outcome.Box.Text.rfind(SInstallFailed, 0), 0u) << outcome.Box.Text;
  EXPECT_EQ(outcome.Box.Caption, "QLXT3SE");
  if (!PressOk(outcome.Box)) {
    ADD_FAILURE() << "the box did not go";
    return {};
  }
  EXPECT_EQ(setup.WaitExit(30), 0);
  return outcome.Box;
}

// An uninstall through the wizard that runs to "Uninstall successfull".
void UninstallCompletely() {
  TSetupProcess setup(Program(QLX_SETUP_EXE));
  const HWND w = setup.Wizard();
  REQUIRE(w);
  REQUIRE(WalkToConfirmation(w, SUninstall));
  REQUIRE(PostClick(w, "Start"));
  TOutcome outcome = AwaitOutcome(setup);
  ExpectPlainBox(outcome.Box, SShellNotice);
  REQUIRE(PressOk(outcome.Box));
  outcome = AwaitOutcome(setup);
  ExpectPlainBox(outcome.Box, "Uninstall successfull");
  REQUIRE(PressOk(outcome.Box));
  EXPECT_EQ(setup.WaitExit(30), 0);
}

constexpr const char* SQuestion = "Remove QLX Tessel 3 Starter Edition from your computer?";

int Listed(const char* name) {
  const std::vector<std::string> names = ComputerFolderNames();
  return static_cast<int>(std::count(names.begin(), names.end(), name));
}

// Runs a command line as Windows runs the record's UninstallString: the
// program is the first argument CommandLineToArgvW finds. Answers the
// uninstaller's question (the uninstaller proper is a process of its own)
// and returns the box that follows, if any.
TMessageBox RunUninstaller(const std::string& commandLine, int answer) {
  int count = 0;
  LPWSTR* argv =
      CommandLineToArgvW(std::wstring(commandLine.begin(), commandLine.end()).c_str(), &count);
  const std::wstring first = argv && count > 0 ? argv[0] : L"";
  LocalFree(argv);
  EXPECT_EQ(count, 1) << commandLine;
  EXPECT_TRUE(FileExists(std::string(first.begin(), first.end()))) << commandLine;
  TProgram starter(commandLine);
  EXPECT_EQ(starter.WaitExit(60), 0) << "the part in the installation folder starts and ends";
  const TMessageBox question = WaitForMessageBox(0);
  ExpectPlainBox(question, SQuestion);
  if (!PressButton(question, answer))
    return {};
  return answer == IDYES ? WaitForMessageBox(0) : TMessageBox{};
}

// Fills the disk of path so that only about leave bytes stay free.
void FillDisk(const std::string& path, unsigned long long leave) {
  const unsigned long long free = FreeBytes(path);
  if (free > leave)
    WriteBytes(kFiller, std::string(static_cast<size_t>(free - leave), 'F'));
}

class Scenario : public ::testing::Test {
protected:
  void SetUp() override { ResetProduct(Folders()); }
  void TearDown() override { ResetProduct(Folders()); }
  static std::vector<std::string> Folders() {
    return {DefaultFolder(), kRoot, kDiskFolder, kFiller, "C:\\Decoy", "C:\\QLX Slash"};
  }
};

using Lifecycle = Scenario;
using Uninstall = Scenario;
using Failures = Scenario;
using Trust = Scenario;

// A copy of the setup program's bytes with one byte flipped in the middle of
// the named stored item's data; empty when the item's record is not found.
std::string FlipInStoredItem(std::string exe, const std::string& fileName) {
  // The property's name and its short string value, each with its length.
  const std::string name =
      std::string(1, '\x08') + "FileName" + '\x06' + static_cast<char>(fileName.size()) + fileName;
  const size_t item = exe.find(name);
  const size_t record = item == std::string::npos ? item : exe.find("\x0aStoredItem\x0a", item);
  if (record == std::string::npos)
    return {};
  // vaBinary's length, then the item's own length, then the zlib stream.
  const size_t at = record + 12 + 4;
  uint32_t size = 0;
  for (int i = 3; i >= 0; --i)
    size = (size << 8) | static_cast<unsigned char>(exe[at + static_cast<size_t>(i)]);
  if (exe[at + 4] != '\x78' || size < 64)
    return {};
  exe[at + 4 + size / 2] ^= 0x55;
  return exe;
}

// The page's buttons come back a moment after a box of "Start" has gone.
bool ClickWhenReady(HWND wizard, const std::string& text) {
  return WaitUntil([&] { return Click(wizard, text); }, 10);
}

TEST_F(Lifecycle, InstallReinstallUninstallAndInstallAgain) {
  const std::string standard = DefaultFolder();
  const std::string blanks = kRoot + "\\Folder With Blanks\\QLXT3SE";

  // A new install into the folder field's default.
  {
    TSetupProcess setup(Program(QLX_SETUP_EXE));
    const HWND w = setup.Wizard();
    REQUIRE(w);
    REQUIRE(Click(w, "Next") && Click(w, "I agree") && Click(w, "Next"));
    EXPECT_TRUE(Checked(Visible(w, SNewInstall)));
    REQUIRE(Click(w, "Next"));
    EXPECT_EQ(Folder(w), standard);
    REQUIRE(Click(w, "Next"));
    REQUIRE(PostClick(w, "Start"));
    const TOutcome outcome = AwaitOutcome(setup);
    EXPECT_FALSE(outcome.Box) << "a new install shows no message: " << outcome.Box.Text;
    REQUIRE(outcome.Page == "finish");
    ExpectInstalled(standard);
    FinishWithoutRestart(setup);
  }
  const TProductState once = ProductState(standard);

  // Again into the same folder, with a shell running: the library is
  // unregistered before the notice, the shell ended after it, and the result
  // is that of one install.
  {
    TProgram shell("\"" + WindowsPath(QLX_HELPER) + "\" --progman");
    REQUIRE(WaitUntil([&] { return WindowOfProcess("Progman", shell.Id()) != nullptr; }, 60));
    TSetupProcess setup(Program(QLX_SETUP_EXE));
    const HWND w = setup.Wizard();
    REQUIRE(w);
    REQUIRE(WalkToConfirmation(w, SReinstall));
    REQUIRE(PostClick(w, "Start"));
    TOutcome outcome = AwaitOutcome(setup);
    ExpectPlainBox(outcome.Box, SShellNotice);
    REQUIRE(outcome.Box);
    EXPECT_EQ(RegisteredLibrary(), "") << "unregistered before the notice";
    EXPECT_TRUE(shell.Running()) << "the shell goes only after the notice";
    for (const char* button : {"Back", "Start", "Exit"})
      EXPECT_FALSE(IsWindowEnabled(Visible(w, button))) << button << " while Start runs";
    REQUIRE(PressOk(outcome.Box));
    EXPECT_EQ(shell.WaitExit(30), 0) << "the process owning \"Progman\" is terminated";
    outcome = AwaitOutcome(setup);
    EXPECT_FALSE(outcome.Box) << outcome.Box.Text;
    REQUIRE(outcome.Page == "finish");
    FinishWithoutRestart(setup);
  }
  EXPECT_TRUE(ProductState(standard) == once) << "installing twice leaves one install's state";

  // A reinstall into a folder with blanks, typed with a trailing backslash:
  // the files go where the field says, after the wait.
  {
    TSetupProcess setup(Program(QLX_SETUP_EXE));
    const HWND w = setup.Wizard();
    REQUIRE(w);
    REQUIRE(WalkToConfirmation(w, SReinstall, blanks + "\\"));
    REQUIRE(PostClick(w, "Start"));
    const TOutcome notice = AwaitOutcome(setup);
    ExpectPlainBox(notice.Box, SShellNotice);
    const std::string library = blanks + "\\QLX_Tessel_3.dll";
    EXPECT_TRUE(FolderExists(blanks)) << "staged into before step A";
    EXPECT_FALSE(FileExists(library));
    const auto pressed = std::chrono::steady_clock::now();
    REQUIRE(PressOk(notice.Box));
    EXPECT_TRUE(WaitUntil([&] { return FileExists(library); }, 60));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - pressed)
                            .count();
    EXPECT_GE(waited, 4950) << "the files take their names only after the wait";
    EXPECT_LT(waited, 20000);
    const TOutcome outcome = AwaitOutcome(setup);
    EXPECT_FALSE(outcome.Box) << outcome.Box.Text;
    REQUIRE(outcome.Page == "finish");
    ExpectInstalled(blanks);
    for (const char* name : kProductFiles)
      EXPECT_EQ(Installed(standard, name), Payload(name)) << "the old folder stays: " << name;
    FinishWithoutRestart(setup);
  }

  // Uninstall: the registered folder goes, the settings stay.
  UninstallCompletely();
  EXPECT_FALSE(FolderExists(blanks));
  EXPECT_TRUE(FolderExists(kRoot + "\\Folder With Blanks")) << "only the product's folder goes";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));
  EXPECT_EQ(RegisteredLibrary(), "");
  EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, SSettingsKey, "InstallFolder"), blanks);
  for (const char* name : kProductFiles)
    EXPECT_EQ(Installed(standard, name), Payload(name)) << "not the product's folder: " << name;

  // With nothing registered any more, a new install is offered again.
  EXPECT_TRUE(InstallNew(QLX_SETUP_EXE, blanks));
  ExpectInstalled(blanks);

  // The longest folder whose library path the registration keeps (255
  // characters) and one typed with "/" install whole, with nothing staged or
  // set aside left over.
  const std::string longest = kRoot + "\\" + std::string(219, 'L') + "\\QLXT3SE";
  REQUIRE(longest.size() == 238);
  const std::string slashed = "C:\\QLX Slash\\Tessel 3";
  const std::pair<std::string, std::string> edges[] = {{longest, longest},
                                                       {"C:/QLX Slash/Tessel 3", slashed}};
  for (const auto& [text, folder] : edges) {
    Reinstall(text);
    ExpectInstalled(folder);
    EXPECT_EQ(FolderEntries(folder), SortedProductFiles()) << folder;
  }
}

TEST_F(Uninstall, StopsAtAFileInUseAndSkipsMissingAndForeignFiles) {
  const std::string folder = kRoot + "\\Uninstall\\QLXT3SE";
  REQUIRE(InstallNew(QLX_SETUP_EXE, folder));
  const std::string busy = folder + "\\sqlite3.dll";

  // A product file held open without sharing stops the uninstall there.
  {
    const HANDLE held =
        CreateFileA(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    TSetupProcess setup(Program(QLX_SETUP_EXE));
    const HWND w = setup.Wizard();
    if (w && WalkToConfirmation(w, SUninstall) && PostClick(w, "Start")) {
      TOutcome outcome = AwaitOutcome(setup);
      ExpectPlainBox(outcome.Box, SShellNotice);
      PressOk(outcome.Box);
      outcome = AwaitOutcome(setup);
      ExpectPlainBox(outcome.Box,
                     "Access denied...\r\nFilename: " + busy + "\r\nInstallation terminated...");
      PressOk(outcome.Box);
      EXPECT_EQ(setup.WaitExit(30), 0);
    } else {
      ADD_FAILURE() << "could not start the uninstall";
    }
    CloseHandle(held);
  }
  EXPECT_FALSE(FileExists(folder + "\\QLX_Tessel_3.dll")) << "deleted before the file in use";
  for (const char* name : {"sqlite3.dll", "uninstall.exe", "Msvcrt.dll"})
    EXPECT_EQ(Installed(folder, name), Payload(name)) << "kept: " << name;
  EXPECT_EQ(Record("DisplayName"), "QLX Tessel 3 Starter Edition") << "the record stays";

  // Registered again (as regsvr32 leaves it), with one more file already gone
  // and a file of the user's in the folder.
  SetRegistryString(HKEY_CLASSES_ROOT, SServerKey, "", folder + "\\QLX_Tessel_3.dll");
  EXPECT_TRUE(DeleteFileA((folder + "\\Msvcrt.dll").c_str()));
  WriteBytes(folder + "\\notes.txt", "the user's own");
  UninstallCompletely();
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"notes.txt"})
      << "the folder stays for the user's file";
  EXPECT_EQ(Installed(folder, "notes.txt"), "the user's own");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));

  // Registered when the program started, but no longer at "Start" (another
  // copy of the program uninstalled meanwhile): no folder is known, nothing
  // is deleted.
  SetRegistryString(HKEY_CLASSES_ROOT, SServerKey, "", folder + "\\QLX_Tessel_3.dll");
  WriteBytes(folder + "\\sqlite3.dll", "a product's name, the user's file");
  {
    TSetupProcess setup(Program(QLX_SETUP_EXE));
    const HWND w = setup.Wizard();
    REQUIRE(w);
    REQUIRE(WalkToConfirmation(w, SUninstall));
    RegDeleteKeyA(HKEY_CLASSES_ROOT, SServerKey);
    REQUIRE(PostClick(w, "Start"));
    const TOutcome outcome = AwaitOutcome(setup);
    ExpectPlainBox(outcome.Box,
                   "QLX Tessel 3 Starter Edition is not installed: nothing was removed.");
    REQUIRE(PressOk(outcome.Box));
    EXPECT_EQ(setup.WaitExit(30), 0);
  }
  EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"notes.txt", "sqlite3.dll"}));
}

// The record's UninstallString run as Windows runs it, from a folder that
// holds the product's Msvcrt.dll: "No" changes nothing, a copy elsewhere
// refuses, "Yes" removes everything, and a file in use stops it.
TEST_F(Uninstall, RecordedUninstallerRemovesTheProductFromItsOwnFolder) {
  const std::string folder = kRoot + "\\Recorded\\QLXT3SE";
  REQUIRE(InstallNew(QLX_SETUP_EXE, folder));
  EXPECT_EQ(Listed("QLX Tessel"), 1) << "the computer folder lists the product";
  const TProductState installed = ProductState(folder);

  EXPECT_FALSE(RunUninstaller(Record("UninstallString"), IDNO));
  const std::string elsewhere = kRoot + "\\Elsewhere";
  MakeFolders(elsewhere);
  WriteBytes(elsewhere + "\\Uninstall.exe", Installed(folder, "uninstall.exe"));
  const TMessageBox refused = RunUninstaller("\"" + elsewhere + "\\Uninstall.exe\"", IDYES);
  EXPECT_NE(refused.Text.find("does not belong"), std::string::npos) << refused.Text;
  PressOkUntilEnded(refused);
  EXPECT_TRUE(ProductState(folder) == installed) << "\"No\" and a foreign folder change nothing";

  TMessageBox box = RunUninstaller(Record("UninstallString"), IDYES);
  ExpectPlainBox(box, SShellNotice);
  REQUIRE(PressOk(box));
  box = WaitForMessageBox(0);
  ExpectPlainBox(box, "Uninstall successfull");
  PressOkUntilEnded(box);
  EXPECT_FALSE(FolderExists(folder)) << "the installation folder is emptied and removed";
  EXPECT_TRUE(FolderExists(kRoot + "\\Recorded"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));
  EXPECT_EQ(RegisteredLibrary(), "");
  EXPECT_EQ(Listed("QLX Tessel"), 0);
  EXPECT_NE(PendingDeletions().find("\\QLXT3SE-"), std::string::npos)
      << "the uninstaller's copy goes at the next restart: " << PendingDeletions();

  // Installed again (a new install is all that is offered), a file in use
  // stops the uninstall with the record kept.
  REQUIRE(InstallNew(QLX_SETUP_EXE, folder));
  const std::string busy = folder + "\\sqlite3.dll";
  const HANDLE held =
      CreateFileA(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  box = RunUninstaller(Record("UninstallString"), IDYES);
  PressOk(box);
  box = WaitForMessageBox(0);
  ExpectPlainBox(box, "Access denied...\r\nFilename: " + busy + "\r\nInstallation terminated...");
  PressOkUntilEnded(box);
  CloseHandle(held);
  EXPECT_EQ(Record("DisplayName"), "QLX Tessel 3 Starter Edition") << "the record stays";
  EXPECT_EQ(Installed(folder, "uninstall.exe"), Payload("uninstall.exe"));
}

TEST_F(Failures, UncreatableFolderAndFullDiskStopOnTheConfirmationPage) {
  // A file stands where a parent folder would have to be.
  MakeFolders(kRoot);
  WriteBytes(kRoot + "\\Blocker", "not a folder");
  const std::string blocked = kRoot + "\\Blocker\\QLXT3SE";
  // The e2e-disk fixture mounts the small disk.
  REQUIRE(FolderExists(kDisk + "\\"));
  const std::string library = Payload("QLX_Tessel_3.dll");

  TSetupProcess setup(Program(QLX_SETUP_EXE));
  const HWND w = setup.Wizard();
  REQUIRE(w);
  REQUIRE(WalkToConfirmation(w, SNewInstall, blocked));
  REQUIRE(PostClick(w, "Start"));
  TOutcome outcome = AwaitOutcome(setup);
  EXPECT_EQ(outcome.Box.Text.rfind("Cannot create file \"" + blocked + "\\QLX_Tessel_3.dll\". ", 0),
            0u)
      << outcome.Box.Text;
  EXPECT_EQ(outcome.Box.Caption, "QLXT3SE");
  REQUIRE(PressOk(outcome.Box));
  EXPECT_EQ(Page(w), "confirmation");
  for (const char* button : {"Back", "Start", "Exit"})
    EXPECT_TRUE(IsWindowEnabled(Visible(w, button))) << button;
  ExpectNothingRecorded();

  // No room for the library on the disk: nothing of it is left behind, not
  // even the folder this "Start" made.
  FillDisk(kDisk + "\\", library.size() / 2);
  REQUIRE(Click(w, "Back"));
  SetFolder(w, kDiskFolder);
  REQUIRE(Click(w, "Next"));
  REQUIRE(PostClick(w, "Start"));
  outcome = AwaitOutcome(setup);
  ExpectNoRoom(outcome.Box, kDiskFolder + "\\QLX_Tessel_3.dll");
  REQUIRE(PressOk(outcome.Box));
  EXPECT_EQ(Page(w), "confirmation");
  EXPECT_EQ(FolderEntries(kDisk + "\\"), std::vector<std::string>{"filler.bin"});
  ExpectNothingRecorded();

  // With room again, the same "Start" runs the whole install.
  EXPECT_TRUE(DeleteFileA(kFiller.c_str()));
  REQUIRE(PostClick(w, "Start"));
  outcome = AwaitOutcome(setup);
  EXPECT_FALSE(outcome.Box) << outcome.Box.Text;
  REQUIRE(outcome.Page == "finish");
  ExpectInstalled(kDiskFolder);
  FinishWithoutRestart(setup);
}

// A reinstall over an older build whose files cannot all be replaced leaves
// that build as it was: whole, registered and recorded.
TEST_F(Failures, ReinstallThatCannotWriteKeepsTheOldProduct) {
  // The e2e-disk fixture mounts the small disk.
  REQUIRE(FolderExists(kDisk + "\\"));
  REQUIRE(InstallNew(QLX_SETUP_EXE, kDiskFolder));
  const std::string oldLibrary = Payload("QLX_Tessel_3.dll") + "an older build";
  WriteBytes(kDiskFolder + "\\QLX_Tessel_3.dll", oldLibrary);
  const TProductState before = ProductState(kDiskFolder);
  TProgram shell("\"" + WindowsPath(QLX_HELPER) + "\" --progman");
  REQUIRE(WaitUntil([&] { return WindowOfProcess("Progman", shell.Id()) != nullptr; }, 60));

  // No room to stage the new library: refused before step A.
  FillDisk(kDisk + "\\", Payload("QLX_Tessel_3.dll").size() / 2);
  TSetupProcess setup(Program(QLX_SETUP_EXE));
  const HWND w = setup.Wizard();
  REQUIRE(w);
  REQUIRE(WalkToConfirmation(w, SReinstall, kDiskFolder));
  REQUIRE(PostClick(w, "Start"));
  TOutcome outcome = AwaitOutcome(setup);
  ExpectNoRoom(outcome.Box, kDiskFolder + "\\QLX_Tessel_3.dll");
  REQUIRE(PressOk(outcome.Box));
  EXPECT_EQ(Page(w), "confirmation");
  EXPECT_TRUE(shell.Running()) << "no shell ended";
  EXPECT_TRUE(ProductState(kDiskFolder) == before) << "registered, recorded and byte for byte";
  EXPECT_EQ(FolderEntries(kDiskFolder), SortedProductFiles()) << "no scratch file left";
  EXPECT_TRUE(DeleteFileA(kFiller.c_str()));

  // A product file held open without sharing by another program: found only
  // at the swap, after step A; the files swapped before it go back and the
  // old library is registered again.
  const std::string busy = kDiskFolder + "\\uninstall.exe";
  const HANDLE held =
      CreateFileA(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  REQUIRE(held != INVALID_HANDLE_VALUE);
  REQUIRE(PostClick(w, "Start"));
  outcome = AwaitOutcome(setup);
  ExpectPlainBox(outcome.Box, SShellNotice);
  EXPECT_EQ(RegisteredLibrary(), "") << "unregistered before the notice";
  REQUIRE(PressOk(outcome.Box));
  outcome = AwaitOutcome(setup);
  CloseHandle(held);
  EXPECT_EQ(outcome.Box.Text.rfind("Cannot create file \"" + busy + "\". ", 0), 0u)
      << outcome.Box.Text;
  EXPECT_EQ(outcome.Box.Caption, "QLXT3SE");
  REQUIRE(PressOk(outcome.Box));
  EXPECT_EQ(Page(w), "confirmation");
  EXPECT_EQ(Installed(kDiskFolder, "QLX_Tessel_3.dll"), oldLibrary) << "put back";
  EXPECT_TRUE(ProductState(kDiskFolder) == before) << "registered again, recorded, byte for byte";
  EXPECT_EQ(FolderEntries(kDiskFolder), SortedProductFiles()) << "no scratch file left";

  // With the file free, the same "Start" replaces the old build whole.
  REQUIRE(WaitUntil([&] { return IsWindowEnabled(Visible(w, "Start")) != FALSE; }, 10));
  REQUIRE(PostClick(w, "Start"));
  outcome = AwaitOutcome(setup);
  ExpectPlainBox(outcome.Box, SShellNotice);
  REQUIRE(PressOk(outcome.Box));
  outcome = AwaitOutcome(setup);
  EXPECT_FALSE(outcome.Box) << outcome.Box.Text;
  REQUIRE(outcome.Page == "finish");
  ExpectInstalled(kDiskFolder);
  EXPECT_EQ(FolderEntries(kDiskFolder), SortedProductFiles()) << "nothing set aside is left";
  FinishWithoutRestart(setup);
}

TEST_F(Failures, PayloadWithoutTheLibraryEndsWithInstallationFailed) {
  const std::string folder = kRoot + "\\No Library\\QLXT3SE";
  const TMessageBox box = FailedInstall(QLX_SETUP_WITHOUT_LIBRARY, folder);
  REQUIRE(box);
  EXPECT_NE(box.Text.find('@'), std::string::npos) << "names the support address";
  EXPECT_FALSE(box.Icon);

  for (const char* name : {"sqlite3.dll", "uninstall.exe", "Msvcrt.dll"})
    EXPECT_EQ(Installed(folder, name), Payload(name)) << "written before the check: " << name;
  EXPECT_FALSE(FileExists(folder + "\\QLX_Tessel_3.dll"));
  ExpectNothingRecorded();
}

TEST_F(Failures, RegistrationToolThatFails) {
  const std::string folder = kRoot + "\\Unregistrable\\QLXT3SE";
  REQUIRE(FailedInstall(QLX_SETUP_UNREGISTRABLE, folder));

  EXPECT_EQ(Installed(folder, "QLX_Tessel_3.dll"), Payload("sqlite3.dll")) << "the stand-in";
  ExpectNothingRecorded();
}

TEST_F(Trust, RefusedMachineValuesOfferANewInstallAndTouchNoDecoy) {
  const std::string decoy = "C:\\Decoy";
  MakeFolders(decoy);
  for (const char* name : kProductFiles)
    WriteBytes(decoy + "\\" + name, std::string("someone else's ") + name);
  const std::string machineKey = std::string("Software\\Classes\\") + SServerKey;
  const std::string folder = kRoot + "\\Made\\QLXT3SE";
  const char* const refused[] = {"QLX_Tessel_3.dll", "C:QLX_Tessel_3.dll", "C:\\Decoy\\other.dll",
                                 "C:\\Decoy\\..\\Decoy\\QLX_Tessel_3.dll"};
  for (const char* value : refused) {
    SCOPED_TRACE(value);
    SetRegistryString(HKEY_LOCAL_MACHINE, machineKey, "", value);
    TSetupProcess setup(Program(QLX_SETUP_EXE));
    const HWND w = setup.Wizard();
    REQUIRE(w);
    REQUIRE(Click(w, "Next") && Click(w, "I agree") && Click(w, "Next"));
    EXPECT_TRUE(Checked(Visible(w, SNewInstall)));
    EXPECT_TRUE(IsWindowEnabled(Visible(w, SNewInstall)));
    EXPECT_FALSE(IsWindowEnabled(Visible(w, SReinstall)));
    EXPECT_FALSE(IsWindowEnabled(Visible(w, SUninstall)));
    EXPECT_TRUE(Click(w, "Exit"));
    EXPECT_EQ(setup.WaitExit(30), 0);
  }
  // With the last value still planted, "Start" shows no shell notice,
  // unregisters nothing and deletes nothing of the decoy's.
  REQUIRE(InstallNew(QLX_SETUP_EXE, folder));
  ExpectInstalled(folder);
  for (const char* name : kProductFiles)
    EXPECT_EQ(Installed(decoy, name), std::string("someone else's ") + name);
  EXPECT_EQ(FolderEntries(decoy).size(), 4u);
}

TEST_F(Trust, DamagedCopyAndBadFoldersChangeNothingAndTheUninstallStillRuns) {
  const std::string folder = kRoot + "\\Installed\\QLXT3SE";
  REQUIRE(InstallNew(QLX_SETUP_EXE, folder));
  const TProductState installed = ProductState(folder);
  const std::string damaged = kRoot + "\\damaged setup.exe";
  const std::string bytes =
      FlipInStoredItem(ReadBytes(Program(QLX_SETUP_EXE)).value_or(""), "uninstall.exe");
  REQUIRE(!bytes.empty());
  WriteBytes(damaged, bytes);
  TProgram shell("\"" + WindowsPath(QLX_HELPER) + "\" --progman");
  REQUIRE(WaitUntil([&] { return WindowOfProcess("Progman", shell.Id()) != nullptr; }, 60));

  TSetupProcess setup(damaged);
  const HWND w = setup.Wizard();
  REQUIRE(w);
  const std::string elsewhere = kRoot + "\\Elsewhere\\QLXT3SE";
  REQUIRE(WalkToConfirmation(w, SReinstall, elsewhere));
  REQUIRE(PostClick(w, "Start"));
  TOutcome outcome = AwaitOutcome(setup);
  EXPECT_EQ(outcome.Box.Text, "The setup program is damaged (uninstall.exe). Nothing was changed; "
                              "please download it again.");
  EXPECT_EQ(outcome.Box.Caption, "QLXT3SE");
  REQUIRE(PressOk(outcome.Box));
  EXPECT_EQ(Page(w), "confirmation");

  const std::pair<std::string, std::string> bad[] = {
      {"Tessel", "not a full path"},
      {"C:Tessel", "not a full path"},
      {kRoot + "\\a|b", "a name holds a character that is not allowed"},
      {kRoot + "\\a\x01"
               "b",
       "a name holds a character that is not allowed"},
      {kRoot + "\\CON\\QLXT3SE", "CON is a device name"},
      {kRoot + "\\nul.txt", "nul.txt is a device name"},
      {kRoot + "\\Tessel.", "a name ends in a dot or a blank"},
      {kRoot + "\\Tessel \\QLXT3SE", "a name ends in a dot or a blank"},
      {kRoot + "\\" + std::string(240, 'x'), "too long"},
      {kRoot + "\\" + std::string(221, 'x') + "\\QLXT3SE", "too long"}, // 240 characters
  };
  for (const auto& [text, reason] : bad) {
    REQUIRE(ClickWhenReady(w, "Back"));
    SetFolder(w, text);
    REQUIRE(Click(w, "Next"));
    REQUIRE(PostClick(w, "Start"));
    outcome = AwaitOutcome(setup);
    ExpectPlainBox(outcome.Box,
                   "The installation folder is not valid: " + text + " (" + reason + ").");
    REQUIRE(PressOk(outcome.Box));
    EXPECT_EQ(Page(w), "confirmation") << text;
  }
  EXPECT_TRUE(ProductState(folder) == installed) << "registered, recorded and byte for byte";
  EXPECT_EQ(RegisteredLibrary(), folder + "\\QLX_Tessel_3.dll");
  EXPECT_TRUE(shell.Running()) << "no shell ended";
  EXPECT_EQ(FolderEntries(kRoot), (std::vector<std::string>{"Installed", "damaged setup.exe"}));

  // The uninstall needs none of the payload's data.
  REQUIRE(ClickWhenReady(w, "Back") && ClickWhenReady(w, "Back"));
  REQUIRE(ClickWhenReady(w, SUninstall) && ClickWhenReady(w, "Next"));
  REQUIRE(PostClick(w, "Start"));
  outcome = AwaitOutcome(setup);
  ExpectPlainBox(outcome.Box, SShellNotice);
  REQUIRE(PressOk(outcome.Box));
  outcome = AwaitOutcome(setup);
  ExpectPlainBox(outcome.Box, "Uninstall successfull");
  REQUIRE(PressOk(outcome.Box));
  EXPECT_EQ(setup.WaitExit(30), 0);
  EXPECT_FALSE(FolderExists(folder));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));
}

} // namespace
