// The decimal separator the runtime's number formatting takes, set for the
// life of one object: the user's number format on Windows, LC_NUMERIC (with
// the comma locale the bootstrap generates) elsewhere.
#pragma once

#include "rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

class TDecimalSeparator {
public:
  explicit TDecimalSeparator(char separator) {
#ifdef _WIN32
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, FSaved, sizeof FSaved);
    const char text[2] = {separator, '\0'};
    SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text);
#else
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    FSaved = old ? old : "C";
    std::setlocale(LC_NUMERIC, separator == ',' ? "de_DE.UTF-8" : "C");
#endif
    EXPECT_EQ(separator, rtl::DecimalSeparator()) << "decimal separator could not be set";
  }
  ~TDecimalSeparator() {
#ifdef _WIN32
    SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, FSaved);
#else
    std::setlocale(LC_NUMERIC, FSaved.c_str());
#endif
  }
  TDecimalSeparator(const TDecimalSeparator&) = delete;
  TDecimalSeparator& operator=(const TDecimalSeparator&) = delete;

private:
#ifdef _WIN32
  char FSaved[8] = {};
#else
  std::string FSaved;
#endif
};
