// DLL planting: copies of a canary DLL, named after the DLLs that the setup
// program loads once it runs, wait beside a copy of the program and in the
// folder it is started in. Windows (here Wine, told to prefer a DLL found on
// disk over its own for those names) must take none of them while the
// program walks the pages that load libraries; the test runs the program as
// a debugger would, to see the file behind every DLL mapped. A probe that
// loads one of the names with the default search order shows that a canary
// would be noticed.
#include <algorithm>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

namespace {

using TNames = std::set<std::string>;

// The system DLLs that the program imports: KnownDLLs, which Windows maps
// from System32 whatever lies beside the program. And ntdll, in every process.
const TNames SImported = {"advapi32.dll", "gdi32.dll",   "kernel32.dll", "msvcrt.dll",
                          "ole32.dll",    "shell32.dll", "user32.dll",   "ntdll.dll"};

// What Wine loads for those while it starts the program, before the program's
// first instruction: their own imports, imm32 that user32 loads and the time
// zone names (tzres, by full path) that kernelbase reads as they start.
// Found by starting a program that imports the same DLLs and does nothing,
// with a canary for each name. Windows maps these from \\KnownDlls as the
// KnownDLLs' dependencies; Wine looks for them beside the program first, and
// even takes a shcore.dll found there without any override. The program
// cannot act before them, so they get no canary beside it.
const TNames SLoadedAtStart = {"kernelbase.dll", "ucrtbase.dll", "sechost.dll", "zlib1.dll",
                               "version.dll",    "win32u.dll",   "rpcrt4.dll",  "combase.dll",
                               "shcore.dll",     "shlwapi.dll",  "imm32.dll",   "tzres.dll"};

// What the program's own code loads, or has loaded for it, once it has
// narrowed the DLL search to System32: the canaries' names. Found with
// WINEDEBUG=+pid,+loaddll,warn+module over this test's walk through the
// wizard (no load failed) and kept true by the test, which compares them
// with every DLL that the program mapped. winex11.drv is Wine's display driver.
const TNames SLoadedByProgram = {"comctl32.dll", "oleacc.dll",  "oleaut32.dll", "riched20.dll",
                                 "usp10.dll",    "uxtheme.dll", "winex11.drv"};

// Wine's comctl32 delay-loads msimg32. Wine resolves the delay imports of
// its own DLLs with the search path of old, the program's folder first,
// whatever the program set (Windows uses the search the program set), so
// this canary waits in the working folder only.
const TNames SDelayLoadedByWine = {"msimg32.dll"};

TNames Union(TNames a, const TNames& b) {
  a.insert(b.begin(), b.end());
  return a;
}

// The canaries: beside the program, and in the folder it is started in,
// which Windows and Wine search only after System32 whoever asks, so every
// name waits there.
const TNames SBesideProgram = SLoadedByProgram;
const TNames SInWorkingFolder = Union(Union(SLoadedByProgram, SDelayLoadedByWine), SLoadedAtStart);

// One of them for the probe.
constexpr const char* SProbeDll = "riched20.dll";

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') {
    std::replace(path.begin(), path.end(), '/', '\\');
    path = "Z:" + path;
  }
  return path;
}

std::string Lower(std::string text) {
  CharLowerA(text.data());
  return text;
}

std::string FileNameOf(const std::string& path) {
  return path.substr(path.find_last_of("\\/") + 1);
}

// A fresh folder under the temporary folder, removed with what it holds.
class TTempFolder {
public:
  explicit TTempFolder(const std::string& name) {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    // One test at a time: a fixed name, cleared first of what a crashed run left.
    FPath = std::string(temp) + "qlx-planting-" + name;
    Clear();
    CreateDirectoryA(FPath.c_str(), nullptr);
  }
  ~TTempFolder() { Clear(); }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& name) const { return FPath + "\\" + name; }

  std::vector<std::string> Files(const std::string& pattern) const {
    std::vector<std::string> found;
    WIN32_FIND_DATAA data{};
    const HANDLE find = FindFirstFileA((*this / pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
      return found;
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        found.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return found;
  }

private:
  void Clear() {
    for (const std::string& file : Files("*"))
      DeleteFileA((*this / file).c_str());
    RemoveDirectoryA(FPath.c_str());
  }

  std::string FPath;
};

bool Inside(const std::string& path, const TTempFolder& folder) {
  return path.starts_with(Lower(folder.Path()) + "\\");
}

// The markers that loaded canaries left in a folder.
std::vector<std::string> Markers(const TTempFolder& folder) {
  return folder.Files("*.loaded");
}

void PlantCanaries(const TTempFolder& folder, const TNames& names) {
  for (const std::string& name : names)
    ASSERT_TRUE(CopyFileA(WindowsPath(QLX_CANARY_DLL).c_str(), (folder / name).c_str(), FALSE))
        << name;
}

// Wine takes a DLL found on disk before its own for exactly the listed names
// (Windows always does), for these programs only, while the object lives.
// Wine reads WINEDLLOVERRIDES from the Unix environment that a process
// inherits from its parent, not from the Windows environment block that
// CreateProcess hands over; its per-program registry overrides do reach a
// child started from here.
class TNativeFirst {
public:
  explicit TNativeFirst(std::vector<std::string> programs) : FPrograms(std::move(programs)) {
    for (const std::string& program : FPrograms) {
      // What a run that crashed left behind.
      RegDeleteTreeA(HKEY_CURRENT_USER, (SAppDefaults + program).c_str());
      HKEY key = nullptr;
      const std::string path = SAppDefaults + program + "\\DllOverrides";
      if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          &key, nullptr) != ERROR_SUCCESS)
        continue;
      for (const std::string& name : Union(SBesideProgram, SInWorkingFolder)) {
        const std::string module = name.ends_with(".dll") ? name.substr(0, name.size() - 4) : name;
        RegSetValueExA(key, module.c_str(), 0, REG_SZ, SNativeFirst, sizeof SNativeFirst);
      }
      RegCloseKey(key);
    }
  }
  ~TNativeFirst() {
    for (const std::string& program : FPrograms)
      RegDeleteTreeA(HKEY_CURRENT_USER, (SAppDefaults + program).c_str());
  }
  TNativeFirst(const TNativeFirst&) = delete;
  TNativeFirst& operator=(const TNativeFirst&) = delete;

private:
  static constexpr const char* SAppDefaults = "Software\\Wine\\AppDefaults\\";
  static constexpr BYTE SNativeFirst[] = "native,builtin";
  std::vector<std::string> FPrograms;
};

// A program run as a debugger runs it: the loader reports every DLL it maps,
// with a handle to the file it mapped, data-only ones too. (Listing another
// process's modules reads its memory, which fails under this machine's
// emulation.)
class TProcess {
public:
  TProcess(const std::string& command, const std::string& folder) {
    std::promise<bool> started;
    auto result = started.get_future();
    FDebugger = std::thread([&] { Debug(command, folder, started); });
    FStarted = result.get();
  }
  ~TProcess() {
    if (FStarted && WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(FInfo.hProcess, 99);
    FDebugger.join();
    if (FStarted) {
      CloseHandle(FInfo.hThread);
      CloseHandle(FInfo.hProcess);
    }
  }
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;

  bool Started() const { return FStarted; }
  bool Running() const {
    return FStarted && WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT;
  }
  DWORD Id() const { return FInfo.dwProcessId; }
  // The full paths of the DLLs mapped so far, lower case.
  std::vector<std::string> Loaded() const {
    const std::lock_guard lock(FMutex);
    return FLoaded;
  }
  // The exit code once the process has ended, or -1 if it runs on.
  long WaitExit(int seconds = 30) {
    if (WaitForSingleObject(FInfo.hProcess, static_cast<DWORD>(seconds) * 1000) != WAIT_OBJECT_0)
      return -1;
    DWORD code = 0;
    GetExitCodeProcess(FInfo.hProcess, &code);
    return static_cast<long>(code);
  }

private:
  // Runs on its own thread: Windows sends the debug events to the thread
  // that started the program.
  void Debug(const std::string& command, const std::string& folder, std::promise<bool>& started) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    // The manifest asks for elevation, which Wine cannot give under emulation.
    SetEnvironmentVariableA("__COMPAT_LAYER", "RunAsInvoker");
    std::string line = command;
    const bool ok =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                       nullptr, folder.c_str(), &si, &FInfo) != FALSE;
    started.set_value(ok);
    if (!ok)
      return;
    for (bool running = true; running;) {
      DEBUG_EVENT event{};
      if (!WaitForDebugEvent(&event, INFINITE))
        return;
      DWORD status = DBG_CONTINUE;
      switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        NoteLoad(event.u.LoadDll.hFile);
        break;
      case EXCEPTION_DEBUG_EVENT:
        // The loader's breakpoint is the debugger's; anything else is the program's.
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
          status = DBG_EXCEPTION_NOT_HANDLED;
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        running = false;
        break;
      default:
        break;
      }
      ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
  }

  void NoteLoad(HANDLE file) {
    if (!file)
      return;
    char path[MAX_PATH] = {};
    const DWORD n = GetFinalPathNameByHandleA(file, path, sizeof path, VOLUME_NAME_DOS);
    CloseHandle(file);
    if (n == 0 || n >= sizeof path)
      return;
    std::string name = Lower(path);
    if (name.starts_with("\\\\?\\"))
      name.erase(0, 4);
    const std::lock_guard lock(FMutex);
    FLoaded.push_back(name);
  }

  PROCESS_INFORMATION FInfo{};
  bool FStarted = false;
  std::thread FDebugger;
  mutable std::mutex FMutex;
  std::vector<std::string> FLoaded;
};

std::string TextOf(HWND wnd) {
  char text[512] = {};
  GetWindowTextA(wnd, text, sizeof text);
  return text;
}

std::string ClassOf(HWND wnd) {
  char name[64] = {};
  GetClassNameA(wnd, name, sizeof name);
  return name;
}

struct TWindowSearch {
  DWORD Process;
  std::string Class;
  HWND Found = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND wnd, LPARAM param) {
  auto* search = reinterpret_cast<TWindowSearch*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(wnd, &process);
  if (process == search->Process && IsWindowVisible(wnd) && ClassOf(wnd) == search->Class) {
    search->Found = wnd;
    return FALSE;
  }
  return TRUE;
}

// A visible top-level window of the process, waited for while it runs.
HWND WaitForWindow(const TProcess& process, const std::string& cls, int seconds = 60) {
  for (int i = 0; i < seconds * 10 && process.Running(); ++i) {
    TWindowSearch search{process.Id(), cls};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
    if (search.Found)
      return search.Found;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return nullptr;
}

bool WaitGone(HWND wnd, int seconds = 30) {
  for (int i = 0; i < seconds * 10; ++i) {
    if (!IsWindow(wnd) || !IsWindowVisible(wnd))
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

struct TChildSearch {
  std::string Text;
  bool VisibleOnly;
  HWND Found = nullptr;
};

BOOL CALLBACK FindChild(HWND wnd, LPARAM param) {
  auto* search = reinterpret_cast<TChildSearch*>(param);
  if ((!search->VisibleOnly || IsWindowVisible(wnd)) && TextOf(wnd) == search->Text) {
    search->Found = wnd;
    return FALSE;
  }
  return TRUE;
}

HWND Child(HWND parent, const std::string& text, bool visibleOnly = true) {
  TChildSearch search{text, visibleOnly};
  EnumChildWindows(parent, FindChild, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

// Clicks a visible, enabled button and waits for what it does.
bool Click(HWND window, const std::string& text) {
  HWND button = Child(window, text);
  if (!button || !IsWindowEnabled(button))
    return false;
  SendMessageA(button, BM_CLICK, 0, 0);
  return true;
}

// Asks the page shown for its accessible object as a screen reader would,
// which has the program load the accessibility libraries.
void AskForAccessibleObject(HWND wizard) {
  HWND page = GetWindow(wizard, GW_CHILD);
  ASSERT_NE(page, nullptr);
  DWORD_PTR result = 0;
  SendMessageTimeoutA(page, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT), SMTO_BLOCK, 30000,
                      &result);
}

// Opens the folder dialog (modal: the click returns only once it closes)
// and cancels it.
void BrowseAndCancel(const TProcess& setup, HWND wizard) {
  HWND browse = Child(wizard, "Browse");
  ASSERT_NE(browse, nullptr);
  PostMessageA(browse, BM_CLICK, 0, 0);
  HWND dialog = WaitForWindow(setup, "#32770");
  ASSERT_NE(dialog, nullptr) << "no folder dialog";
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(WaitGone(dialog));
}

// The thumbnail sits on the last page, shown only after an install; its
// panel still takes a click at the picture, which opens the viewer. Pages
// are stacked in their order and each page shown goes on top, so after the
// walk the last page is still the bottom one.
void OpenAndCloseViewer(const TProcess& setup, HWND wizard) {
  HWND lastPage = GetWindow(GetWindow(wizard, GW_CHILD), GW_HWNDLAST);
  ASSERT_NE(lastPage, nullptr);
  ASSERT_FALSE(IsWindowVisible(lastPage));
  const LPARAM picture = MAKELPARAM(8 + 153 / 2, 56 + 121 / 2);
  PostMessageA(lastPage, WM_LBUTTONDOWN, MK_LBUTTON, picture);
  PostMessageA(lastPage, WM_LBUTTONUP, 0, picture);
  HWND viewer = WaitForWindow(setup, "QlxTForm3");
  ASSERT_NE(viewer, nullptr) << "no viewer";
  EXPECT_TRUE(Click(viewer, "Close this window"));
  EXPECT_TRUE(WaitGone(viewer));
}

class Planting : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(CopyFileA(WindowsPath(QLX_SETUP_EXE).c_str(),
                          (FProgram / FileNameOf(QLX_SETUP_EXE)).c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(WindowsPath(QLX_PROBE_EXE).c_str(),
                          (FProgram / FileNameOf(QLX_PROBE_EXE)).c_str(), FALSE));
    PlantCanaries(FProgram, SBesideProgram);
    PlantCanaries(FWorking, SInWorkingFolder);
  }

  // Which canaries were loaded, for a message.
  std::string MarkersFound() const {
    std::string found;
    for (const TTempFolder* folder : {&FProgram, &FWorking})
      for (const std::string& marker : Markers(*folder))
        found += " " + (*folder / marker);
    return found.empty() ? "no canary loaded" : "canaries loaded:" + found;
  }

  void ExpectNoMarkers() {
    EXPECT_EQ(Markers(FProgram), std::vector<std::string>{}) << "beside the program";
    EXPECT_EQ(Markers(FWorking), std::vector<std::string>{}) << "in the working folder";
  }

  long RunProbe(const std::string& arguments) {
    TProcess probe("\"" + (FProgram / FileNameOf(QLX_PROBE_EXE)) + "\" " + arguments,
                   FWorking.Path());
    EXPECT_TRUE(probe.Started());
    return probe.WaitExit();
  }

  TNativeFirst FNativeFirst{{FileNameOf(QLX_SETUP_EXE), FileNameOf(QLX_PROBE_EXE)}};
  TTempFolder FProgram{"program"};
  TTempFolder FWorking{"working"};
};

TEST_F(Planting, SetupLoadsNoDllFromItsOwnOrItsWorkingFolder) {
  std::vector<std::string> loaded;
  {
    TProcess setup("\"" + (FProgram / FileNameOf(QLX_SETUP_EXE)) + "\"", FWorking.Path());
    ASSERT_TRUE(setup.Started());
    HWND wizard = WaitForWindow(setup, "QlxTForm1");
    ASSERT_NE(wizard, nullptr) << "no wizard, " << MarkersFound();
    AskForAccessibleObject(wizard);
    ASSERT_TRUE(Click(wizard, "Next"));
    ASSERT_TRUE(Click(wizard, "I agree"));
    ASSERT_TRUE(Click(wizard, "Next"));
    ASSERT_TRUE(Click(wizard, "Next"));
    ASSERT_NE(Child(wizard, "Browse"), nullptr) << "not on the folder page";
    BrowseAndCancel(setup, wizard);
    OpenAndCloseViewer(setup, wizard);
    ASSERT_TRUE(Click(wizard, "Exit"));
    EXPECT_EQ(setup.WaitExit(), 0);
    loaded = setup.Loaded();
  }
  ExpectNoMarkers();

  // Nothing came from the planted folders, and the canaries stand for
  // everything that the program loaded of its own.
  TNames own;
  for (const std::string& path : loaded) {
    EXPECT_FALSE(Inside(path, FProgram)) << path;
    EXPECT_FALSE(Inside(path, FWorking)) << path;
    const std::string name = FileNameOf(path);
    if (!SImported.contains(name) && !SLoadedAtStart.contains(name))
      own.insert(name);
  }
  EXPECT_EQ(own, Union(SLoadedByProgram, SDelayLoadedByWine))
      << "the list of the program's DLLs is out of date";

  // The same folders, names and overrides catch a program that searches the
  // default way, and Wine narrows the search the way Windows does.
  EXPECT_EQ(RunProbe(std::string(SProbeDll) + " system32"), 0);
  ExpectNoMarkers();
  EXPECT_EQ(RunProbe(SProbeDll), 0);
  EXPECT_EQ(Markers(FProgram), std::vector<std::string>{std::string(SProbeDll) + ".loaded"});
}

} // namespace
