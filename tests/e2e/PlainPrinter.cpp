#include "PlainPrinter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace e2e {

namespace {

class TPlainPrinter : public testing::EmptyTestEventListener {
public:
  void OnTestStart(const testing::TestInfo& test) override { Print("[ RUN      ] " + Name(test)); }

  void OnTestPartResult(const testing::TestPartResult& result) override {
    if (result.type() == testing::TestPartResult::kSuccess)
      return;
    const char* file = result.file_name() ? result.file_name() : "unknown file";
    Print(std::string(file) + ":" + std::to_string(result.line_number()) + ": " +
          (result.skipped() ? "Skipped" : "Failure") + "\n" + result.message());
  }

  void OnTestEnd(const testing::TestInfo& test) override {
    const testing::TestResult& result = *test.result();
    const char* verdict = result.Skipped()  ? "[  SKIPPED ] "
                          : result.Failed() ? "[  FAILED  ] "
                                            : "[       OK ] ";
    if (result.Failed())
      FFailed.push_back(Name(test));
    Print(verdict + Name(test) + " (" + std::to_string(result.elapsed_time()) + " ms)");
  }

  void OnTestProgramEnd(const testing::UnitTest& unit) override {
    Print("[==========] " + std::to_string(unit.test_to_run_count()) + " tests ran (" +
          std::to_string(unit.elapsed_time()) + " ms)");
    Print("[  PASSED  ] " + std::to_string(unit.successful_test_count()) + " tests");
    for (const std::string& name : FFailed)
      Print("[  FAILED  ] " + name);
  }

private:
  static std::string Name(const testing::TestInfo& test) {
    return std::string(test.test_suite_name()) + "." + test.name();
  }
  static void Print(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
  }

  std::vector<std::string> FFailed;
};

} // namespace

void UsePlainPrinter() {
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  delete listeners.Release(listeners.default_result_printer());
  listeners.Append(new TPlainPrinter);
}

} // namespace e2e
