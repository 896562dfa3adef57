// Install speed and memory of the real setup program, driven like a user:
//   qlx_install_bench SETUP_EXE UNCHECKED_EXE RUNS [BASELINE_EXE]
// Times "Start" to the finish page of a new install, RUNS times each for the
// program and for its build without the payload check before "Start", taken
// in turns, and reads the setup process's peak memory; BASELINE_EXE, a
// minimal window program started the same way, gives the memory that any
// program has under this Wine.
#include "SetupDriver.h"
#include "rtl/Streams.h"
#include "setup/Unit1.h"
#include "ui/Application.h"

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

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The payload check alone, in this process, on the wizard form that the
// program carries: Start to finish under Wine varies by more than the check
// costs. Median milliseconds of repeats, or negative when the form is not found.
double CheckMilliseconds(const std::string& program, int repeats) {
  const HMODULE image =
      LoadLibraryExA(e2e::WindowsPath(program).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!image)
    return -1;
  std::vector<double> times;
  if (const HRSRC resource = FindResourceA(image, "TFORM1", MAKEINTRESOURCEA(10))) {
    const void* bytes = LockResource(LoadResource(image, resource));
    rtl::TReadOnlyMemoryStream stream(bytes, SizeofResource(image, resource));
    ui::TApplication application;
    application.Initialize();
    setup::RegisterSetupClasses();
    setup::TForm1 form(nullptr);
    form.ReadForm(stream);
    for (int i = 0; i < repeats; ++i) {
      const auto start = std::chrono::steady_clock::now();
      setup::VerifyPayload(*form.mxStorage1);
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
  }
  FreeLibrary(image);
  return times.empty() ? -1 : Median(times);
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 4 || std::atoi(argv[3]) < 1) {
    std::fprintf(stderr, "usage: qlx_install_bench SETUP_EXE UNCHECKED_EXE RUNS [BASELINE_EXE]\n");
    return 2;
  }
  const std::string checked = argv[1], unchecked = argv[2];
  const int runs = std::atoi(argv[3]);
  if (argc > 4) {
    const TMemory baseline = Baseline(argv[4]);
    std::printf("minimal window program: peak working set %.1f MiB, peak private bytes %.1f MiB\n",
                baseline.PeakWorkingSetMiB, baseline.PeakPrivateMiB);
  }
  std::vector<double> with, without;
  for (int i = 0; i < runs; ++i) {
    // In turns, so that a slower spell of the machine weighs on both alike.
    with.push_back(Install(checked));
    without.push_back(Install(unchecked));
    if (with.back() < 0 || without.back() < 0)
      return 1;
  }
  const double a = Median(with), b = Median(without);
  std::printf("Start to finish page, median of %d: with the payload check %.2f s, without %.2f s, "
              "ratio %.3f\n",
              runs, a, b, a / b);
  const double check = CheckMilliseconds(checked, 11);
  std::printf("the payload check alone, median of 11: %.1f ms, %.1f %% of Start to finish without "
              "it\n",
              check, check / (b * 10));
  std::fflush(stdout);
  return 0;
}
