// Install speed and memory of the real setup program, driven like a user:
//   qlx_install_bench SETUP_EXE UNCHECKED_EXE RUNS [BASELINE_EXE [NSIS_EXE]]
// Times "Start" to the finish page of a new install, RUNS times each for the
// program (every file staged and checked, then swapped in) and for its build
// that writes the files in place without any check, taken in turns, and
// reads the setup process's peak memory; BASELINE_EXE, a minimal window
// program started the same way, gives the memory that any program has under
// this Wine. NSIS_EXE, a silent NSIS installer of the same files into the
// same folder, is timed whole process in the same turns.
#include "SetupDriver.h"

#include <windows.h>

#include <psapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* SClassKey = "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}";
constexpr const char* SUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QLXT3SE";
constexpr const char* SFolder = "C:\\QLX Bench\\QLXT3SE";

struct TMemory {
  double PeakWorkingSetMiB = 0;
  double PeakPrivateMiB = 0;
};

TMemory MemoryOf(DWORD processId) {
  TMemory memory;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (!process)
    return memory;
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process, &counters, sizeof counters)) {
    memory.PeakWorkingSetMiB = static_cast<double>(counters.PeakWorkingSetSize) / 1048576.0;
    memory.PeakPrivateMiB = static_cast<double>(counters.PeakPagefileUsage) / 1048576.0;
  }
  CloseHandle(process);
  return memory;
}

// No product registered, recorded or on disk: the next run is a new install.
void Reset() {
  SHDeleteKeyA(HKEY_CLASSES_ROOT, SClassKey);
  SHDeleteKeyA(HKEY_LOCAL_MACHINE, SUninstallKey);
  const std::string folder = SFolder;
  for (const char* name : {"QLX_Tessel_3.dll", "sqlite3.dll", "uninstall.exe", "Msvcrt.dll"})
    DeleteFileA((folder + "\\" + name).c_str());
  RemoveDirectoryA(SFolder);
}

// Starts the minimal window program and reads its memory once it shows.
TMemory Baseline(const std::string& program) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION info{};
  std::string command = "\"" + e2e::WindowsPath(program) + "\"";
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &info))
    return {};
  const DWORD id = info.dwProcessId;
  e2e::WaitUntil([] { return FindWindowA(nullptr, "QLX Minimal Window") != nullptr; }, 60);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const TMemory memory = MemoryOf(id);
  TerminateProcess(info.hProcess, 0);
  WaitForSingleObject(info.hProcess, 10000);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return memory;
}

// Seconds from "Start" to the finish page, or a negative number on failure.
double Install(const std::string& program) {
  Reset();
  e2e::TSetupProcess setup(program);
  const HWND wizard = setup.Wizard();
  if (!wizard || !e2e::WalkToConfirmation(wizard, "", SFolder)) {
    std::fprintf(stderr, "the wizard did not reach the confirmation page\n");
    return -1;
  }
  const TMemory before = MemoryOf(setup.Id());
  const auto start = std::chrono::steady_clock::now();
  if (!e2e::PostClick(wizard, "Start"))
    return -1;
  bool finished = false;
  e2e::WaitUntil(
      [&] {
        finished = e2e::Page(wizard) == "finish";
        return finished || e2e::FindMessageBox(setup.Id());
      },
      900);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!finished) {
    const e2e::TMessageBox box = e2e::FindMessageBox(setup.Id());
    std::fprintf(stderr, "no finish page: %s\n", box ? box.Text.c_str() : "time-out");
    return -1;
  }
  const TMemory after = MemoryOf(setup.Id());
  std::printf("  %s: Start to finish page %.2f s\n", program.c_str(), seconds);
  std::printf("    peak working set: %.1f MiB before Start, %.1f MiB after\n",
              before.PeakWorkingSetMiB, after.PeakWorkingSetMiB);
  std::printf("    peak private bytes: %.1f MiB before Start, %.1f MiB after\n",
              before.PeakPrivateMiB, after.PeakPrivateMiB);
  e2e::Click(wizard, "Restart later");
  e2e::PostClick(wizard, "Finish");
  setup.WaitExit(60);
  Reset();
  return seconds;
}

// Seconds from start to end of a silent installer's process, or negative
// when it fails or leaves no library.
double InstallSilently(const std::string& program) {
  Reset();
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION info{};
  std::string command = "\"" + e2e::WindowsPath(program) + "\" /S";
  const auto start = std::chrono::steady_clock::now();
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &info))
    return -1;
  WaitForSingleObject(info.hProcess, 900000);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  const bool installed =
      GetFileAttributesA((std::string(SFolder) + "\\QLX_Tessel_3.dll").c_str()) !=
      INVALID_FILE_ATTRIBUTES;
  Reset();
  if (!installed)
    return -1;
  std::printf("  %s: whole process %.2f s\n", program.c_str(), seconds);
  return seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 4 || std::atoi(argv[3]) < 1) {
    std::fprintf(stderr, "usage: qlx_install_bench SETUP_EXE UNCHECKED_EXE RUNS [BASELINE_EXE "
                         "[NSIS_EXE]]\n");
    return 2;
  }
  const std::string checked = argv[1], unchecked = argv[2];
  const int runs = std::atoi(argv[3]);
  if (argc > 4) {
    const TMemory baseline = Baseline(argv[4]);
    std::printf("minimal window program: peak working set %.1f MiB, peak private bytes %.1f MiB\n",
                baseline.PeakWorkingSetMiB, baseline.PeakPrivateMiB);
  }
  const std::string nsis = argc > 5 ? argv[5] : "";
  std::vector<double> with, without, other;
  for (int i = 0; i < runs; ++i) {
    // In turns, so that a slower spell of the machine weighs on all alike.
    with.push_back(Install(checked));
    without.push_back(Install(unchecked));
    if (!nsis.empty())
      other.push_back(InstallSilently(nsis));
    if (with.back() < 0 || without.back() < 0 || (!other.empty() && other.back() < 0))
      return 1;
  }
  const double a = Median(with), b = Median(without);
  std::printf("Start to finish page, median of %d: staged and checked %.2f s, written in place "
              "unchecked %.2f s, ratio %.3f\n",
              runs, a, b, a / b);
  if (!other.empty())
    std::printf("NSIS whole process, median of %d: %.2f s; staged and checked at %.3f of it\n",
                runs, Median(other), a / Median(other));
  std::fflush(stdout);
  return 0;
}
