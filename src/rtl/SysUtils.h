// Exceptions with the runtime's fixed message texts, text formatting and the
// system's error texts.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace rtl {

// Fixed message texts of the runtime.
inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SWriteError = "Stream write error";
inline constexpr const char* SFCreateErrorEx = "Cannot create file \"%s\". %s";
inline constexpr const char* SListIndexError = "List index out of bounds (%d)";
inline constexpr const char* SAssignError = "Cannot assign a %s to a %s";
inline constexpr const char* SInvalidStreamOp = "Invalid stream operation";
inline constexpr const char* SZLibError = "Error";
inline constexpr const char* SInvalidPropertyValue = "Invalid property value";
inline constexpr const char* SReadPropertyError = "Error reading %s%s%s: %s";

// Root of every error the runtime, the components and the program raise; the
// framework shows Message() in its error box.
class Exception : public std::exception {
public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const std::string& Message() const noexcept { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }
  const char* what() const noexcept override { return FMessage.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

private:
  std::string FMessage;
};

#define RTL_EXCEPTION(Name, Base)                                                                  \
  class Name : public Base {                                                                       \
  public:                                                                                          \
    using Base::Base;                                                                              \
    const char* ClassName() const noexcept override { return #Name; }                              \
  }

RTL_EXCEPTION(EStreamError, Exception);
RTL_EXCEPTION(EReadError, EStreamError);
RTL_EXCEPTION(EWriteError, EStreamError);
RTL_EXCEPTION(EFilerError, EStreamError);
RTL_EXCEPTION(EFCreateError, EStreamError);
RTL_EXCEPTION(EFOpenError, EStreamError);
RTL_EXCEPTION(EListError, Exception);
RTL_EXCEPTION(EConvertError, Exception);
RTL_EXCEPTION(EZLibError, Exception);
RTL_EXCEPTION(ECompressionError, EZLibError);
RTL_EXCEPTION(EDecompressionError, EZLibError);
RTL_EXCEPTION(EClassNotFound, EFilerError);
RTL_EXCEPTION(ERegistryException, Exception);
RTL_EXCEPTION(EOleError, Exception);
RTL_EXCEPTION(EOleRegistrationError, EOleError);
RTL_EXCEPTION(EOSError, Exception);
RTL_EXCEPTION(EParserError, Exception);

#undef RTL_EXCEPTION

// printf-style formatting into a std::string (only %d, %s, %u, %x and the
// like: the fixed texts never need more).
std::string Format(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The decimal separator of the user's number format: the user default locale
// on Windows, the C library's current locale elsewhere.
char DecimalSeparator();

// Fixed notation with two decimals, rounded to nearest, with DecimalSeparator().
std::string FormatFixed2(long double value);

// The system's text for an error code, with trailing blanks, control
// characters and full stops cut; empty when the system has no text for it.
std::string SysErrorMessage(uint32_t code);

// The code of the last failed system call of this thread.
uint32_t GetLastOSError();

// Case-insensitive comparison that follows the user's locale (the ASCII
// letters alone outside Windows).
bool AnsiSameText(const std::string& a, const std::string& b);

// A key equal for exactly the texts AnsiSameText takes as equal (the locale's
// case-blind sort key on Windows), so such texts can be kept in a set.
std::string AnsiCaseKey(const std::string& s);

// Case-insensitive comparison that folds only the ASCII letters a-z.
bool SameText(const std::string& a, const std::string& b);

// The text with only the ASCII letters a-z folded to capitals: equal results
// for exactly the texts SameText takes as equal.
std::string UpperCase(std::string s);

// A device Windows opens in place of a file of this name, whatever follows
// the first dot and in any folder: CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// COM1-9 and LPT1-9 (and their superscript digits, which the ANSI code page
// gives as single bytes).
bool IsDeviceFileName(const std::string& name);

// Whether a file or folder name holds a character Windows does not allow in
// one: a control character, a path delimiter, the drive colon or <>"|?*.
bool HasForbiddenFileNameCharacter(const std::string& name);

} // namespace rtl
