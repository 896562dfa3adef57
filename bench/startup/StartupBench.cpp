// Time from process start to the window shown, measured from inside Wine: the
// setup program and a minimal window program are started in turns, and each
// start is timed until a visible top-level window of its class and title exists.
//   qlx_startup_bench SETUP MINIMAL [RUNS]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "SetupDriver.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency);
}

// Milliseconds until the window shows, or a negative value when the program
// ended first or never showed it within a minute.
double TimeToWindow(const std::string& exe, const char* cls, const char* title) {
  std::string commandLine = "\"" + exe + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  LARGE_INTEGER start{}, now{};
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return -1;
  double ms = -1;
  for (;;) {
    const bool shown = e2e::TopLevel(process.dwProcessId, cls, title) != nullptr;
    QueryPerformanceCounter(&now);
    if (shown) {
      ms = Seconds(start, now) * 1000;
      break;
    }
    if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0 || Seconds(start, now) > 60)
      break;
  }
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Sleep(300); // let the window go before the next start
  return ms;
}

// Under emulation a process now and then crashes while it starts, whichever
// the program: such a start is made again.
double TimedStart(const std::string& exe, const char* cls, const char* title) {
  for (int attempt = 0; attempt < 3; ++attempt)
    if (const double ms = TimeToWindow(exe, cls, title); ms >= 0)
      return ms;
  std::fprintf(stderr, "%s never showed its window\n", exe.c_str());
  std::exit(1);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Print(const char* name, const std::vector<double>& values) {
  std::printf("%s", name);
  for (const double v : values)
    std::printf(" %.0f", v);
  std::printf(" ms (median %.1f)\n", Median(values));
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: qlx_startup_bench SETUP MINIMAL [RUNS]\n");
    return 2;
  }
  const std::string setup = argv[1], minimal = argv[2];
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 9;
  // One start of each first, so that both find the file cache warm.
  TimedStart(minimal, "QLXMinimalWindow", "QLX Minimal Window");
  TimedStart(setup, "QlxTForm1", "QLX Installer");
  std::vector<double> m, s;
  for (int i = 0; i < runs; ++i) {
    m.push_back(TimedStart(minimal, "QLXMinimalWindow", "QLX Minimal Window"));
    s.push_back(TimedStart(setup, "QlxTForm1", "QLX Installer"));
  }
  Print("minimal window:", m);
  Print("setup program: ", s);
  std::printf("ratio: %.2f\n", Median(s) / Median(m));
  return 0;
}
