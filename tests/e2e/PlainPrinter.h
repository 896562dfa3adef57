// gtest's own printer hands every failure to OutputDebugStringA as well, which
// under Wine raises an exception; on emulated i386 the exception's return
// corrupts the thread and the test binary crashes at its first failure. This
// printer writes to stdout only.
#pragma once

namespace e2e {

// Replaces gtest's default result printer; call after InitGoogleTest.
void UsePlainPrinter();

} // namespace e2e
