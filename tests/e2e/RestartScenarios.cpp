// "Finish" of the real setup program, with and without a restart, in a Wine
// prefix of its own.
//
// Wine's ExitWindowsEx grants every request by starting system32\wineboot.exe
// detached, with options from the flags: "--kill" for EWX_FORCE (otherwise
// "--end-session", with "--force" for EWX_FORCEIFHUNG), then "--shutdown"
// unless EWX_REBOOT is set. It fails only when wineboot cannot be started.
// ctest runs this binary with wineboot loaded as native only, so the file in
// system32 is what the request starts: a recorder of its command line stands
// for an accepted request, and no file at all makes the request fail. The
// flags 6 (EWX_REBOOT | EWX_FORCE) so show up as the one option "--kill".
#include <gtest/gtest.h>

#include "Scenario.h"
#include "SetupDriver.h"

using namespace e2e;

namespace {

// The recorder writes the options it was started with here.
const std::string kRecord = "C:\\qlx-e2e-wineboot.txt";

std::string SystemFile(const char* name) {
  char folder[MAX_PATH] = {};
  GetSystemDirectoryA(folder, sizeof folder);
  return std::string(folder) + "\\" + name;
}

std::vector<std::string> RecordedOptions() {
  std::vector<std::string> lines;
  const std::string text = ReadBytes(kRecord).value_or("");
  size_t from = 0;
  for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
    std::string line = text.substr(from, end - from);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class Restart : public ::testing::Test {
protected:
  void SetUp() override {
    ResetProduct({DefaultFolder()});
    DeleteFileA(kRecord.c_str());
    SetEnvironmentVariableA("QLX_HELPER_RECORD", kRecord.c_str());
    // Wine's own wineboot, kept once; later runs put it back from there.
    CopyFileA(FWineboot.c_str(), FOriginal.c_str(), TRUE);
  }
  void TearDown() override {
    CopyFileA(FOriginal.c_str(), FWineboot.c_str(), FALSE);
    ResetProduct({DefaultFolder()});
    DeleteFileA(kRecord.c_str());
  }

  void UseRecorder() {
    EXPECT_TRUE(CopyFileA(WindowsPath(QLX_HELPER).c_str(), FWineboot.c_str(), FALSE));
  }
  void RemoveWineboot() { EXPECT_TRUE(DeleteFileA(FWineboot.c_str())); }

  // A new install into the default folder, up to the finish page.
  static bool ReachFinishPage(TSetupProcess& setup) {
    const HWND w = setup.Wizard();
    EXPECT_NE(w, nullptr);
    if (!w || !WalkToConfirmation(w, SNewInstall) || !PostClick(w, "Start"))
      return false;
    const TOutcome outcome = AwaitOutcome(setup);
    EXPECT_FALSE(outcome.Box) << outcome.Box.Text;
    EXPECT_EQ(outcome.Page, "finish");
    EXPECT_EQ(RegisteredLibrary(), DefaultFolder() + "\\QLX_Tessel_3.dll");
    return outcome.Page == "finish" && Checked(Visible(w, "Restart now"));
  }

  const std::string FWineboot = SystemFile("wineboot.exe");
  const std::string FOriginal = SystemFile("wineboot.exe.qlx-original");
};

TEST_F(Restart, RestartLaterEndsWithoutARequest) {
  UseRecorder();
  TSetupProcess setup(WindowsPath(QLX_SETUP_EXE));
  REQUIRE(ReachFinishPage(setup));
  REQUIRE(Click(setup.Wizard(), "Restart later"));
  REQUIRE(PostClick(setup.Wizard(), "Finish"));
  EXPECT_EQ(setup.WaitExit(30), 0);
  // A request would have started the recorder by now; give it time to write.
  EXPECT_FALSE(WaitUntil([] { return FileExists(kRecord); }, 8)) << "no restart was asked for";
}

TEST_F(Restart, RestartNowAsksForAForcedRebootAndEnds) {
  UseRecorder();
  TSetupProcess setup(WindowsPath(QLX_SETUP_EXE));
  REQUIRE(ReachFinishPage(setup));
  REQUIRE(PostClick(setup.Wizard(), "Finish"));
  EXPECT_EQ(setup.WaitExit(30), 0) << "ended without a message";
  EXPECT_TRUE(WaitUntil([] { return !RecordedOptions().empty(); }, 60));
  EXPECT_EQ(RecordedOptions(), std::vector<std::string>{"--kill"})
      << "EWX_REBOOT | EWX_FORCE: a forced restart, not a shutdown";
}

TEST_F(Restart, ARefusedRestartIsReportedAndTheProgramEnds) {
  RemoveWineboot();
  TSetupProcess setup(WindowsPath(QLX_SETUP_EXE));
  REQUIRE(ReachFinishPage(setup));
  REQUIRE(PostClick(setup.Wizard(), "Finish"));
  const TMessageBox box = WaitForMessageBox(setup.Id(), 60);
  EXPECT_EQ(box.Caption, "Error");
  EXPECT_EQ(box.Text, "Unable to restart windows.\r\nPlease restart your computer manually.");
  EXPECT_TRUE(box.Icon) << "an error box";
  EXPECT_TRUE(setup.Running()) << "the program waits for OK";
  REQUIRE(PressOk(box));
  EXPECT_EQ(setup.WaitExit(30), 0);
  EXPECT_FALSE(FileExists(kRecord));
}

} // namespace
