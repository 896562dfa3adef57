// The installed uninstall.exe end to end under Wine, started as Windows'
// list starts it: where it puts its private copy, an uninstall taken up
// again after a file in use stopped it, and two uninstallers at once.
#include <gtest/gtest.h>

#include <algorithm>

#include "Scenario.h"
#include "SetupDriver.h"

// After windows.h, which Scenario.h brings.
#include <shlwapi.h>

using namespace e2e;

namespace {

const std::string kRoot = "C:\\QLX e2e uninstaller";
const std::string kUserTemp = kRoot + "\\User Temp";

constexpr const char* SQuestion = "Remove QLX Tessel 3 Starter Edition from your computer?";
constexpr const char* SShellNotice = "Shell restart needed...";
constexpr const char* SDone = "Uninstall successfull";
constexpr const char* SNotInstalled =
    "QLX Tessel 3 Starter Edition is not installed: nothing was removed.";
constexpr const char* SBusy = "QLX Tessel 3 Starter Edition is being changed by another setup or "
                              "uninstaller. Try again when it has finished.";
constexpr const char* SCannotStart =
    "The uninstaller of QLX Tessel 3 Starter Edition could not be started.";

std::string UninstallString() {
  return RegistryString(HKEY_LOCAL_MACHINE, SUninstallKey, "UninstallString").value_or("");
}

// The Windows folder's own Temp, where the private copies go.
std::string WindowsTemp() {
  char path[MAX_PATH] = {};
  const UINT n = GetSystemWindowsDirectoryA(path, sizeof path);
  return std::string(path, n) + "\\Temp";
}

// A new install through every page into folder, ended with "Restart later".
bool InstallNew(const std::string& folder) {
  TSetupProcess setup(WindowsPath(QLX_SETUP_EXE));
  const HWND w = setup.Wizard();
  if (!w || !WalkToConfirmation(w, SNewInstall, folder) || !PostClick(w, "Start"))
    return false;
  const TOutcome outcome = AwaitOutcome(setup);
  if (outcome.Page != "finish")
    return false;
  return Click(w, "Restart later") && PostClick(w, "Finish") && setup.WaitExit(30) == 0;
}

BOOL CALLBACK CollectBoxOwners(HWND wnd, LPARAM param) {
  char cls[16] = {};
  GetClassNameA(wnd, cls, sizeof cls);
  DWORD id = 0;
  GetWindowThreadProcessId(wnd, &id);
  if (IsWindowVisible(wnd) && std::string(cls) == "#32770")
    reinterpret_cast<std::vector<DWORD>*>(param)->push_back(id);
  return TRUE;
}

// The message box, of whichever process, that says text: two uninstallers
// show theirs at once.
TMessageBox WaitForBoxSaying(const std::string& text, double seconds = 120) {
  TMessageBox found;
  WaitUntil(
      [&] {
        std::vector<DWORD> owners;
        EnumWindows(CollectBoxOwners, reinterpret_cast<LPARAM>(&owners));
        for (DWORD id : owners) {
          const TMessageBox box = FindMessageBox(id);
          if (box.Text == text)
            found = box;
        }
        return static_cast<bool>(found);
      },
      seconds);
  return found;
}

// Starts the command line as Windows' list does, answers the question and
// returns the box that follows.
TMessageBox RunUninstaller(const std::string& commandLine, int answer) {
  TProgram starter(commandLine);
  EXPECT_EQ(starter.WaitExit(60), 0) << "the part in the installation folder starts and ends";
  const TMessageBox question = WaitForBoxSaying(SQuestion);
  EXPECT_EQ(question.Caption, "QLXT3SE");
  if (!PressButton(question, answer))
    return {};
  return WaitForMessageBox(0);
}

// TEMP and TMP of the programs this process starts, for as long as it lives.
class TTempOverride {
public:
  explicit TTempOverride(const std::string& folder) {
    for (int i = 0; i < 2; ++i) {
      char value[MAX_PATH] = {};
      FSaved[i].assign(value, GetEnvironmentVariableA(SNames[i], value, sizeof value));
      SetEnvironmentVariableA(SNames[i], folder.c_str());
    }
  }
  ~TTempOverride() {
    for (int i = 0; i < 2; ++i)
      SetEnvironmentVariableA(SNames[i], FSaved[i].c_str());
  }

private:
  static constexpr const char* SNames[] = {"TEMP", "TMP"};
  std::string FSaved[2];
};

// A folder moved aside, and put back when this goes.
class TMovedAside {
public:
  explicit TMovedAside(const std::string& folder)
      : FFolder(folder), FAside(folder + ".qlx-aside"),
        FMoved(MoveFileA(FFolder.c_str(), FAside.c_str()) != FALSE) {}
  ~TMovedAside() {
    if (FMoved)
      MoveFileA(FAside.c_str(), FFolder.c_str());
  }
  bool Moved() const { return FMoved; }

private:
  std::string FFolder, FAside;
  bool FMoved;
};

void ExpectRemoved(const std::string& folder) {
  EXPECT_FALSE(FolderExists(folder)) << "files and folder gone: " << FolderEntries(folder).size();
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey)) << "the record is gone";
  EXPECT_EQ(RegisteredLibrary(), "");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, SNameSpaceKey));
}

class Uninstaller : public ::testing::Test {
protected:
  void SetUp() override { ResetProduct({kRoot}); }
  void TearDown() override { ResetProduct({kRoot}); }
};

// With the user's TEMP and TMP pointing at a folder of his, nothing goes
// there: the private copy is made under the Windows folder's Temp. An
// uninstall stopped by a file in use has unregistered the library already;
// run again from the record once the file is free, it still removes
// everything, while a copy in another folder finds nothing of its own.
TEST_F(Uninstaller, StoppedByAFileInUseFinishesFromTheRecordAndLeavesTheUsersTempAlone) {
  const std::string folder = kRoot + "\\Again\\QLXT3SE";
  REQUIRE(InstallNew(folder));
  MakeFolders(kUserTemp);
  const TTempOverride temp(kUserTemp);
  const std::string busy = folder + "\\sqlite3.dll";
  {
    const HANDLE held =
        CreateFileA(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    TMessageBox box = RunUninstaller(UninstallString(), IDYES);
    ExpectPlainBox(box, SShellNotice);
    PressOk(box);
    box = WaitForMessageBox(0);
    ExpectPlainBox(box, "Access denied...\r\nFilename: " + busy + "\r\nInstallation terminated...");
    PressOkUntilEnded(box);
    CloseHandle(held);
  }
  EXPECT_EQ(RegisteredLibrary(), "") << "unregistered before the file in use stopped it";
  REQUIRE(KeyExists(HKEY_LOCAL_MACHINE, SUninstallKey));

  const std::string elsewhere = kRoot + "\\Elsewhere";
  MakeFolders(elsewhere);
  WriteBytes(elsewhere + "\\Uninstall.exe", ReadBytes(folder + "\\uninstall.exe").value_or(""));
  TMessageBox box = RunUninstaller("\"" + elsewhere + "\\Uninstall.exe\"", IDYES);
  ExpectPlainBox(box, SNotInstalled);
  PressOkUntilEnded(box);
  EXPECT_TRUE(FileExists(busy)) << "a copy elsewhere removes nothing";

  box = RunUninstaller(UninstallString(), IDYES);
  ExpectPlainBox(box, SDone);
  PressOkUntilEnded(box);
  ExpectRemoved(folder);
  EXPECT_TRUE(FolderEntries(kUserTemp).empty()) << FolderEntries(kUserTemp).front();
  EXPECT_TRUE(StrStrIA(PendingDeletions().c_str(), (WindowsTemp() + "\\QLXT3SE-").c_str()))
      << PendingDeletions();
}

// A first stage that cannot make its private folder says so and changes
// nothing. Of two uninstallers started together, the one that comes second
// while the first asks its question shows the busy box and ends; the first
// then removes the product whole.
TEST_F(Uninstaller, TwoAtOnceGiveOneSuccessAndOneBox) {
  const std::string folder = kRoot + "\\Twice\\QLXT3SE";
  REQUIRE(InstallNew(folder));
  const TProductState installed = ProductState(folder);
  {
    const TMovedAside temp(WindowsTemp());
    REQUIRE(temp.Moved());
    TProgram starter(UninstallString());
    const TMessageBox box = WaitForMessageBox(starter.Id());
    ExpectPlainBox(box, SCannotStart);
    PressOk(box);
    EXPECT_EQ(starter.WaitExit(30), 1);
  }
  EXPECT_TRUE(ProductState(folder) == installed);

  TProgram first(UninstallString());
  EXPECT_EQ(first.WaitExit(60), 0);
  const TMessageBox question = WaitForBoxSaying(SQuestion);
  REQUIRE(question);
  TProgram second(UninstallString());
  EXPECT_EQ(second.WaitExit(60), 0);
  const TMessageBox busy = WaitForBoxSaying(SBusy);
  ExpectPlainBox(busy, SBusy);
  PressOkUntilEnded(busy);
  EXPECT_TRUE(ProductState(folder) == installed) << "the second changes nothing";

  REQUIRE(PressButton(question, IDYES));
  TMessageBox box = WaitForBoxSaying(SShellNotice);
  REQUIRE(PressOk(box));
  box = WaitForBoxSaying(SDone);
  ExpectPlainBox(box, SDone);
  PressOkUntilEnded(box);
  ExpectRemoved(folder);
  EXPECT_FALSE(WaitForMessageBox(0, 3)) << "no other box";
}

} // namespace
