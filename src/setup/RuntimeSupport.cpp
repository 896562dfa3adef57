// Parts of the C++ runtime in the small form the shipped program needs. The
// library's own terminate handler names the exception's type through the
// demangler, and its functions that raise the standard errors bring its
// copy-on-write string with them: large pieces of code for paths that the
// program never takes. Defined here, the library's are not linked in. The
// tests link the library's own.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <stdexcept>
#include <typeinfo>

namespace {

// A standard error of the library (a position past the end of a string, a
// length past the maximum, ...) with the library's message. The program's
// handlers take every error as a std::exception and show what().
class ELibraryError : public std::exception {
public:
  explicit ELibraryError(const char* message) {
    std::snprintf(FMessage, sizeof FMessage, "%s", message ? message : "");
  }
  const char* what() const noexcept override { return FMessage; }

private:
  char FMessage[256];
};

} // namespace

// Writes the message of a std::exception only, then aborts as the library's does.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "terminate called after throwing an exception\n  what():  %s\n",
                   e.what());
    } catch (...) {
      std::fputs("terminate called after throwing an exception\n", stderr);
    }
  } else {
    std::fputs("terminate called without an active exception\n", stderr);
  }
  std::abort();
}
} // namespace __gnu_cxx

namespace std {

void __throw_bad_exception() {
  throw bad_exception();
}
void __throw_bad_alloc() {
  throw bad_alloc();
}
void __throw_bad_array_new_length() {
  throw bad_array_new_length();
}
void __throw_bad_cast() {
  throw bad_cast();
}
void __throw_bad_typeid() {
  throw bad_typeid();
}
void __throw_logic_error(const char* message) {
  throw ELibraryError(message);
}
void __throw_domain_error(const char* message) {
  throw ELibraryError(message);
}
void __throw_invalid_argument(const char* message) {
  throw ELibraryError(message);
}
void __throw_length_error(const char* message) {
  throw ELibraryError(message);
}
void __throw_out_of_range(const char* message) {
  throw ELibraryError(message);
}
void __throw_out_of_range_fmt(const char* format, ...) {
  char message[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  throw ELibraryError(message);
}
void __throw_runtime_error(const char* message) {
  throw ELibraryError(message);
}
void __throw_range_error(const char* message) {
  throw ELibraryError(message);
}
void __throw_overflow_error(const char* message) {
  throw ELibraryError(message);
}
void __throw_underflow_error(const char* message) {
  throw ELibraryError(message);
}

} // namespace std
