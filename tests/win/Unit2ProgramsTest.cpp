// Starting and waiting for programs, registration through Wine's own regsvr32,
// and the end of the shell's process, with helper programs built for the tests.
#include <gtest/gtest.h>

#include "WinTestSupport.h"
#include "rtl/SysUtils.h"
#include "setup/Unit2.h"
#include "ui/Application.h"

using namespace setup;

namespace {

int handled = 0;

LRESULT CALLBACK CountingProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_APP)
    ++handled;
  return DefWindowProcA(wnd, msg, wParam, lParam);
}

class ProgramsTest : public ::testing::Test {
protected:
  void SetUp() override {
    FApp.SetTitle("QLXT3SE");
    FApp.Initialize();
    FRecord = wintest::TempFolder() + "\\qlx_unit2_args.txt";
    DeleteFileA(FRecord.c_str());
    SetEnvironmentVariableA("QLX_HELPER_RECORD", FRecord.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("QLX_HELPER_RECORD", nullptr);
    DeleteFileA(FRecord.c_str());
  }

  // Starts the helper directly, for the tests that must keep its handle.
  static PROCESS_INFORMATION StartHelper(const std::string& args) {
    std::string line = "\"" + wintest::HelperPath() + "\" " + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    CloseHandle(pi.hThread);
    return pi;
  }

  static HWND WaitForProgman() {
    const DWORD start = GetTickCount();
    HWND wnd = nullptr;
    while (!(wnd = FindWindowA("Progman", nullptr)) && GetTickCount() - start < wintest::kWaitMs)
      Sleep(100);
    return wnd;
  }

  ui::TApplication FApp;
  std::string FRecord;
};

TEST_F(ProgramsTest, RunAndWaitReturnsFalseOnlyWhenNothingStarts) {
  const DWORD start = GetTickCount();
  EXPECT_FALSE(RunAndWait("qlx-no-such-program.exe", ""));
  EXPECT_FALSE(RunAndWait(wintest::TempFolder() + "\\missing folder\\x.exe", "/s"));
  EXPECT_LT(GetTickCount() - start, 60000u); // no box waits for a user
  // An error exit code counts as an ended wait.
  EXPECT_TRUE(RunAndWait("cmd.exe", "/c exit 3"));
  // 259 is also STILL_ACTIVE's value: the wait must still end.
  EXPECT_TRUE(RunAndWait("cmd.exe", "/c exit 259"));
}

TEST_F(ProgramsTest, RunAndWaitLastsUntilTheProgramEndsAndKeepsMessagesFlowing) {
  WNDCLASSA cls{};
  cls.lpfnWndProc = CountingProc;
  cls.hInstance = GetModuleHandleA(nullptr);
  cls.lpszClassName = "QLXTestCounter";
  RegisterClassA(&cls);
  const HWND counter = CreateWindowExA(0, cls.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                       nullptr, cls.hInstance, nullptr);
  ASSERT_TRUE(counter);
  handled = 0;
  PostMessageA(counter, WM_APP, 0, 0);
  EXPECT_TRUE(RunAndWait(wintest::HelperPath(), "--sleep 300 \"a b\""));
  // The helper writes its record just before it ends.
  EXPECT_EQ(wintest::ReadLines(FRecord), (std::vector<std::string>{"--sleep", "300", "a b"}));
  EXPECT_EQ(handled, 1);
  EXPECT_FALSE(FApp.Terminated());
  DestroyWindow(counter);
}

TEST_F(ProgramsTest, AQuitRequestEndsTheWait) {
  FApp.Terminate();
  const DWORD start = GetTickCount();
  EXPECT_TRUE(RunAndWait(wintest::HelperPath(), "--sleep 30000"));
  EXPECT_LT(GetTickCount() - start, 25000u);
  EXPECT_TRUE(FApp.Terminated());
}

// Started in the system folder too, not in the setup's (a download folder's).
TEST_F(ProgramsTest, RegistrationToolIsRegsvr32InTheSystemFolderAndStartsThere) {
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, sizeof system);
  EXPECT_EQ(RegistrationTool(), std::string(system) + "\\regsvr32.exe");
  EXPECT_NE(GetFileAttributesA(RegistrationTool().c_str()), INVALID_FILE_ATTRIBUTES);
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof current, current);
  SetCurrentDirectoryA(wintest::TempFolder().c_str());
  const bool ran = RunAndWait(wintest::HelperPath(), "--folder");
  SetCurrentDirectoryA(current);
  ASSERT_TRUE(ran);
  const std::vector<std::string> folder = wintest::ReadLines(FRecord);
  ASSERT_EQ(folder.size(), 1u);
  EXPECT_EQ(lstrcmpiA(folder[0].c_str(), system), 0) << folder[0];
}

TEST_F(ProgramsTest, ALibraryPathWithBlanksIsOneArgument) {
  const std::wstring path = L"C:\\Program Files\\QLX T3\\QLX_Tessel_3.dll";
  EXPECT_EQ(RegistrationParameters(path, false),
            "/s \"C:\\Program Files\\QLX T3\\QLX_Tessel_3.dll\"");
  EXPECT_EQ(RegistrationParameters(path, true),
            "/s /u \"C:\\Program Files\\QLX T3\\QLX_Tessel_3.dll\"");
  // As the started program's own argument parsing sees them.
  ASSERT_TRUE(RunAndWait(wintest::HelperPath(), RegistrationParameters(path, false)));
  EXPECT_EQ(wintest::ReadLines(FRecord),
            (std::vector<std::string>{"/s", "C:\\Program Files\\QLX T3\\QLX_Tessel_3.dll"}));
  ASSERT_TRUE(RunAndWait(wintest::HelperPath(), RegistrationParameters(path, true)));
  EXPECT_EQ(wintest::ReadLines(FRecord),
            (std::vector<std::string>{"/s", "/u", "C:\\Program Files\\QLX T3\\QLX_Tessel_3.dll"}));
}

TEST_F(ProgramsTest, RegsvrRegistersAndUnregistersALibraryInAFolderWithBlanks) {
  const std::string folder = wintest::TempFolder() + "\\qlx unit2 server";
  const std::string library = folder + "\\test server.dll";
  CreateDirectoryA(folder.c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(wintest::TestServerPath().c_str(), library.c_str(), FALSE));
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QLXTest");

  RegisterServer(AnsiToWide(library));
  EXPECT_TRUE(rtl::AnsiSameText(
      ReadRegistryString("Software\\QLXTest\\Server", "", HKEY_CURRENT_USER), library));
  UnregisterServer(AnsiToWide(library));
  EXPECT_FALSE(wintest::KeyExists(HKEY_CURRENT_USER, "Software\\QLXTest\\Server"));
  // A library that is not there: regsvr32 fails silently and so do we.
  RegisterServer(AnsiToWide(folder + "\\missing.dll"));
  EXPECT_FALSE(wintest::FindOwnDialog());

  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QLXTest");
  DeleteFileA(library.c_str());
  RemoveDirectoryA(folder.c_str());
}

TEST_F(ProgramsTest, RestartShellEndsTheProcessThatOwnsProgman) {
  if (FindWindowA("Progman", nullptr))
    GTEST_SKIP() << "this session has a shell window of its own";
  const PROCESS_INFORMATION shell = StartHelper("--progman");
  ASSERT_TRUE(WaitForProgman());
  const PROCESS_INFORMATION bystander = StartHelper("--sleep 60000");

  RestartShell(false);
  EXPECT_EQ(WaitForSingleObject(shell.hProcess, wintest::kWaitMs), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(shell.hProcess, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(WaitForSingleObject(bystander.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  // With no shell window, nothing is ended.
  RestartShell(false);
  EXPECT_EQ(WaitForSingleObject(bystander.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  TerminateProcess(bystander.hProcess, 0);
  CloseHandle(bystander.hProcess);
  CloseHandle(shell.hProcess);
}

TEST_F(ProgramsTest, RestartShellNeverEndsItsOwnProcess) {
  if (FindWindowA("Progman", nullptr))
    GTEST_SKIP() << "this session has a shell window of its own";
  WNDCLASSA cls{};
  cls.lpfnWndProc = DefWindowProcA;
  cls.hInstance = GetModuleHandleA(nullptr);
  cls.lpszClassName = "Progman";
  RegisterClassA(&cls);
  const HWND own = CreateWindowExA(0, "Progman", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                   cls.hInstance, nullptr);
  ASSERT_TRUE(own);
  RestartShell(false); // the test would end here if it did
  EXPECT_TRUE(IsWindow(own));
  DestroyWindow(own);
  UnregisterClassA("Progman", cls.hInstance);
}

TEST_F(ProgramsTest, RestartShellShowsTheNoticeFirst) {
  std::string caption, text;
  {
    wintest::TDialogWatcher watcher([&](HWND box) {
      caption = wintest::WindowText(box);
      text = wintest::WindowText(GetDlgItem(box, 0xFFFF));
      return IDOK;
    });
    RestartShell(true);
  }
  EXPECT_EQ(caption, "QLXT3SE");
  EXPECT_EQ(text, "Shell restart needed...");
}

} // namespace
