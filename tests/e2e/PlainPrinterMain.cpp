// main() of the Win32 test binaries: gtest with the plain result printer, so
// that a failure is reported and the binary goes on to its other cases.
#include <gtest/gtest.h>

#include "PlainPrinter.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  e2e::UsePlainPrinter();
  return RUN_ALL_TESTS();
}
