// qlxform on hostile forms: time and peak memory of `list` and `dump` on a
// 4 KB form with 2,000 stored items, on 2 MB forms (65,536 named items, a
// list of two million values, a million items that list must refuse) and on
// a form nested as deep as the reader accepts, each held to a budget. A second qlxform (an older
// build, say) runs the same cases in the same run, for ratios; it has no budget, only a time limit
// past which it is stopped.
//   form_bench QLXFORM [OTHER_QLXFORM] [folder]
// Exit status 1 when QLXFORM misses a budget or fails.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double TimeLimitSeconds = 60;

// A binary form of a host object holding one store and whatever else.
struct TForm {
  std::vector<uint8_t> B{'T', 'P', 'F', '0'};
  void Byte(uint8_t b) { B.push_back(b); }
  void Str(const std::string& s) {
    Byte(static_cast<uint8_t>(s.size()));
    B.insert(B.end(), s.begin(), s.end());
  }
};

// A store of items that carry a file name of nameLength bytes each (none at 0).
std::vector<uint8_t> StoreForm(size_t items, size_t nameLength = 0) {
  TForm f;
  f.Str("TForm1");
  f.Str("Form1");
  f.Byte(0); // no properties
  f.Str("TmxStorage");
  f.Str("mxStorage1");
  f.Str("StoredItems");
  f.Byte(0x0E);
  for (size_t i = 0; i < items; ++i) {
    f.Byte(0x01); // named automatically
    if (nameLength > 0) {
      std::string name = std::to_string(i);
      name = std::string(nameLength - std::min(nameLength, name.size() + 4), 'f') + name + ".dll";
      f.Str("FileName");
      f.Byte(0x06);
      f.Str(name);
    }
    f.Byte(0x00);
  }
  f.Byte(0x00); // end of the collection
  f.Byte(0x00); // end of the store's properties
  f.Byte(0x00); // no children
  f.Byte(0x00); // end of the form's children
  return f.B;
}

std::vector<uint8_t> ValueListForm(size_t values) {
  TForm f;
  f.Str("TForm1");
  f.Str("Form1");
  f.Str("Values");
  f.Byte(0x01);
  for (size_t i = 0; i < values; ++i)
    f.Byte(0x0D); // nil
  f.Byte(0x00);
  f.Byte(0x00); // end of properties
  f.Byte(0x00); // no children
  return f.B;
}

// The root object and 255 lists inside each other: 256 levels.
std::vector<uint8_t> DeepForm() {
  TForm f;
  f.Str("TForm1");
  f.Str("Form1");
  f.Str("Deep");
  for (int i = 0; i < 255; ++i)
    f.Byte(0x01);
  f.Byte(0x09); // True, innermost
  for (int i = 0; i < 255; ++i)
    f.Byte(0x00);
  f.Byte(0x00);
  f.Byte(0x00);
  return f.B;
}

long SelfKiB() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0)
      return std::atol(line.c_str() + 6);
  return -1;
}

struct TRun {
  bool Ok = false;
  bool Stopped = false;
  double Seconds = 0;
  long PeakKiB = 0;
};

// Runs qlxform with its output thrown away; wall time and peak resident set.
TRun Run(const std::string& tool, const std::string& command, const std::string& file) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(tool.c_str(), tool.c_str(), command.c_str(), file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  TRun run;
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, WNOHANG, &usage) == 0) {
    if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >
        TimeLimitSeconds) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      run.Stopped = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.PeakKiB = usage.ru_maxrss;
  run.Ok = !run.Stopped && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

std::string Describe(const TRun& r) {
  char text[96];
  if (r.Stopped)
    std::snprintf(text, sizeof text, ">%.0f s (stopped), %ld KiB", TimeLimitSeconds, r.PeakKiB);
  else
    std::snprintf(text, sizeof text, "%.3f s, %ld KiB%s", r.Seconds, r.PeakKiB,
                  r.Ok ? "" : " (status 1)");
  return text;
}

struct TCase {
  std::string Name;
  std::function<std::vector<uint8_t>()> Make;
  double BudgetSeconds;
  bool ListRefused = false; // more items than a collection takes
};

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: form_bench QLXFORM [OTHER_QLXFORM] [folder]\n");
    return 2;
  }
  const std::string tool = argv[1];
  const std::string other = argc > 2 ? argv[2] : "";
  const std::string dir = argc > 3 ? argv[3] : "/tmp";

  const std::vector<TCase> cases = {
      {"2,000 items", [] { return StoreForm(2000); }, 1},
      {"2 MB, 65,536 items", [] { return StoreForm(65536, 19); }, 10},
      {"2 MB list of values", [] { return ValueListForm(2 * 1024 * 1024 - 32); }, 10},
      {"2 MB, 1M items", [] { return StoreForm(1024 * 1024 - 16); }, 10, true},
      {"256 levels deep", DeepForm, 1},
  };
  // Peak memory: the program's own start-up, plus a small multiple of the input.
  constexpr long BaseKiB = 16 * 1024;
  constexpr long PerInputByte = 8;

  bool ok = true;
  std::printf("the bench's own resident set, a floor under every peak: %ld KiB\n", SelfKiB());
  std::printf("%-20s %-7s %10s  %-34s %s\n", "form", "command", "bytes", "qlxform",
              other.empty() ? "" : "other");
  for (const TCase& c : cases) {
    const std::string file = dir + "/form_bench_" + std::to_string(&c - cases.data()) + ".bin";
    size_t size = 0;
    {
      const std::vector<uint8_t> form = c.Make();
      size = form.size();
      std::ofstream(file, std::ios::binary)
          .write(reinterpret_cast<const char*>(form.data()), static_cast<std::streamsize>(size));
    }
    // A child's peak counts its parent's resident set at the fork: keep it small.
    malloc_trim(0);
    for (const char* command : {"list", "dump"}) {
      const TRun r = Run(tool, command, file);
      const long memoryBudget = BaseKiB + PerInputByte * static_cast<long>(size) / 1024;
      // The built stores' items cost more than a multiple of their records.
      const long listBudget = std::max(memoryBudget, BaseKiB + 65536L * 2);
      const bool refused = c.ListRefused && std::string(command) == "list";
      const bool within = r.Ok != refused && !r.Stopped && r.Seconds <= c.BudgetSeconds &&
                          r.PeakKiB <= (command[0] == 'l' ? listBudget : memoryBudget);
      ok = ok && within;
      std::string line =
          Describe(r) + (refused && !r.Ok ? " refused" : "") + (within ? "" : " OVER BUDGET");
      std::string otherLine;
      if (!other.empty()) {
        const TRun o = Run(other, command, file);
        char ratio[64] = "";
        if (!o.Stopped && r.Seconds > 0 && r.PeakKiB > 0)
          std::snprintf(ratio, sizeof ratio, " (x%.1f time, x%.1f memory)", o.Seconds / r.Seconds,
                        static_cast<double>(o.PeakKiB) / static_cast<double>(r.PeakKiB));
        otherLine = Describe(o) + ratio;
      }
      std::printf("%-20s %-7s %10zu  %-34s %s\n", c.Name.c_str(), command, size, line.c_str(),
                  otherLine.c_str());
      std::fflush(stdout);
    }
    std::remove(file.c_str());
  }
  std::printf("budgets: time per form as listed in the source; memory %ld KiB + %ld x input,\n"
              "and for list at least %ld KiB + 2 KiB per item a collection takes\n",
              BaseKiB, PerInputByte, BaseKiB);
  std::printf("%s\n", ok ? "within budget" : "OVER BUDGET");
  return ok ? 0 : 1;
}
