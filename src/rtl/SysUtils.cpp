#include "SysUtils.h"

#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace rtl {

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    out.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

char DecimalSeparator() {
#ifdef _WIN32
  char buf[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, sizeof buf) > 1 && buf[0])
    return buf[0];
  return '.';
#else
  const lconv* lc = std::localeconv();
  return (lc && lc->decimal_point && lc->decimal_point[0]) ? lc->decimal_point[0] : '.';
#endif
}

std::string FormatFixed2(long double value) {
  // Formatted in the C locale, then given the user's separator, so the result
  // does not depend on which of the two the C library happens to follow.
  char buf[64];
#if defined(__MINGW32__)
  // msvcrt's printf knows no long double; mingw's own does.
  __mingw_snprintf(buf, sizeof buf, "%.2Lf", value);
#else
  std::snprintf(buf, sizeof buf, "%.2Lf", value);
#endif
  std::string s = buf;
  for (char& c : s)
    if (c == '.' || c == ',') {
      c = DecimalSeparator();
      break;
    }
  return s;
}

static std::string CutTrailing(std::string s) {
  while (!s.empty()) {
    const unsigned char c = static_cast<unsigned char>(s.back());
    if (c <= 32 || c == '.')
      s.pop_back();
    else
      break;
  }
  return s;
}

std::string SysErrorMessage(uint32_t code) {
#ifdef _WIN32
  char buf[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                     FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                 nullptr, code, 0, buf, sizeof buf, nullptr);
  return CutTrailing(std::string(buf, n));
#else
  return CutTrailing(std::strerror(static_cast<int>(code)));
#endif
}

uint32_t GetLastOSError() {
#ifdef _WIN32
  return GetLastError();
#else
  return static_cast<uint32_t>(errno);
#endif
}

bool AnsiSameText(const std::string& a, const std::string& b) {
#ifdef _WIN32
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                        b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
#else
  return SameText(a, b);
#endif
}

std::string AnsiCaseKey(const std::string& s) {
#ifdef _WIN32
  if (s.empty())
    return {};
  constexpr DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
  const int size = static_cast<int>(s.size());
  const int n = LCMapStringA(LOCALE_USER_DEFAULT, flags, s.data(), size, nullptr, 0);
  if (n <= 0)
    throw Exception(SysErrorMessage(GetLastOSError()));
  std::string key(static_cast<size_t>(n), '\0');
  if (LCMapStringA(LOCALE_USER_DEFAULT, flags, s.data(), size, key.data(), n) != n)
    throw Exception(SysErrorMessage(GetLastOSError()));
  return key;
#else
  return UpperCase(s);
#endif
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z')
      x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z')
      y = static_cast<char>(y - 32);
    if (x != y)
      return false;
  }
  return true;
}

std::string UpperCase(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 32);
  return s;
}

bool IsDeviceFileName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ')
    base.pop_back();
  const std::string upper = UpperCase(base);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (upper == device)
      return true;
  if (upper.size() != 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0))
    return false;
  const char digit = upper[3];
  return (digit >= '1' && digit <= '9') || digit == '\xB9' || digit == '\xB2' || digit == '\xB3';
}

bool HasForbiddenFileNameCharacter(const std::string& name) {
  for (const char c : name)
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view("\\/:<>\"|?*").find(c) != std::string_view::npos)
      return true;
  return false;
}

} // namespace rtl
