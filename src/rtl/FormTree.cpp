#include "FormTree.h"

#include "SysUtils.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace rtl {

TValueType SmallestIntType(int64_t value) {
  if (value >= INT8_MIN && value <= INT8_MAX)
    return TValueType::vaInt8;
  if (value >= INT16_MIN && value <= INT16_MAX)
    return TValueType::vaInt16;
  if (value >= INT32_MIN && value <= INT32_MAX)
    return TValueType::vaInt32;
  return TValueType::vaInt64;
}

bool IsIntegerType(TValueType type) {
  return type == TValueType::vaInt8 || type == TValueType::vaInt16 || type == TValueType::vaInt32 ||
         type == TValueType::vaInt64;
}

const char* ValueTypeName(TValueType type) {
  static const char* const names[] = {
      "vaNull",    "vaList",  "vaInt8",       "vaInt16",  "vaInt32",    "vaExtended",
      "vaString",  "vaIdent", "vaFalse",      "vaTrue",   "vaBinary",   "vaSet",
      "vaLString", "vaNil",   "vaCollection", "vaSingle", "vaCurrency", "vaDate",
      "vaWString", "vaInt64", "vaUTF8String"};
  const auto tag = static_cast<uint8_t>(type);
  return tag <= MaxValueTag ? names[tag] : "unknown";
}

TFormValue TFormValue::Integer(int64_t value) {
  return Integer(value, SmallestIntType(value));
}

TFormValue TFormValue::Integer(int64_t value, TValueType type) {
  TFormValue v;
  v.Type = type;
  v.Int = value;
  return v;
}

TFormValue TFormValue::String(std::string text) {
  TFormValue v;
  v.Type = text.size() <= 255 ? TValueType::vaString : TValueType::vaLString;
  v.Str = std::move(text);
  return v;
}

TFormValue TFormValue::Ident(std::string name) {
  TFormValue v;
  v.Type = TValueType::vaIdent;
  v.Str = std::move(name);
  return v;
}

TFormValue TFormValue::Boolean(bool value) {
  return Of(value ? TValueType::vaTrue : TValueType::vaFalse);
}

TFormValue TFormValue::Binary(std::vector<uint8_t> bytes) {
  TFormValue v;
  v.Type = TValueType::vaBinary;
  v.Bytes = std::move(bytes);
  return v;
}

TFormValue TFormValue::Set(std::vector<std::string> names) {
  TFormValue v;
  v.Type = TValueType::vaSet;
  v.Names = std::move(names);
  return v;
}

TFormValue TFormValue::WideString(std::u16string text) {
  TFormValue v;
  v.Type = TValueType::vaWString;
  v.Wide = std::move(text);
  return v;
}

TFormValue TFormValue::Of(TValueType type) {
  TFormValue v;
  v.Type = type;
  return v;
}

bool TFormValue::IsString() const {
  return Type == TValueType::vaString || Type == TValueType::vaLString ||
         Type == TValueType::vaWString || Type == TValueType::vaUTF8String;
}

std::string TFormValue::AsString() const {
  switch (Type) {
  case TValueType::vaWString:
    return WideToAnsi(Wide);
  case TValueType::vaUTF8String:
    return WideToAnsi(Utf8ToWide(Str));
  default:
    return Str;
  }
}

long double TFormValue::AsExtended() const {
  return Type == TValueType::vaExtended && Bytes.size() == 10 ? ExtendedToLongDouble(Bytes.data())
                                                              : 0.0L;
}

float TFormValue::AsSingle() const {
  float f = 0;
  if (Type == TValueType::vaSingle && Bytes.size() == sizeof f)
    std::memcpy(&f, Bytes.data(), sizeof f);
  return f;
}

double TFormValue::AsDate() const {
  double d = 0;
  if (Type == TValueType::vaDate && Bytes.size() == sizeof d)
    std::memcpy(&d, Bytes.data(), sizeof d);
  return d;
}

// Spelt out: clang 14 crashes on defaulted comparisons of these recursive types.
bool TFormValue::operator==(const TFormValue& o) const {
  return Type == o.Type && Int == o.Int && Str == o.Str && Wide == o.Wide && Bytes == o.Bytes &&
         Names == o.Names && List == o.List && Items == o.Items && SourceFile == o.SourceFile;
}

bool TFormProperty::operator==(const TFormProperty& o) const {
  return Name == o.Name && Value == o.Value;
}

bool TFormItem::operator==(const TFormItem& o) const {
  return HasOrder == o.HasOrder && OrderType == o.OrderType && Order == o.Order &&
         Properties == o.Properties;
}

bool TFormObject::operator==(const TFormObject& o) const {
  return HasPrefix == o.HasPrefix && Prefix == o.Prefix && ChildPosType == o.ChildPosType &&
         ChildPos == o.ChildPos && ClassName == o.ClassName && Name == o.Name &&
         Properties == o.Properties && Children == o.Children;
}

template <typename P> static P* FindIn(std::vector<TFormProperty>& props, const std::string& name) {
  for (auto& p : props)
    if (SameText(p.Name, name))
      return &p;
  return nullptr;
}

const TFormProperty* TFormObject::FindProperty(const std::string& name) const {
  return FindIn<const TFormProperty>(const_cast<std::vector<TFormProperty>&>(Properties), name);
}

TFormProperty* TFormObject::FindProperty(const std::string& name) {
  return FindIn<TFormProperty>(Properties, name);
}

// Windows-1252's characters at 0x80..0x9F; zero marks the five unused codes.
static const char16_t Cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string WideToAnsi(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out += static_cast<char>(c);
      continue;
    }
    char mapped = '?';
    for (int i = 0; i < 32; ++i)
      if (Cp1252High[i] != 0 && Cp1252High[i] == c)
        mapped = static_cast<char>(0x80 + i);
    out += mapped;
  }
  return out;
}

std::u16string AnsiToWide(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto b = static_cast<uint8_t>(ch);
    if (b >= 0x80 && b < 0xA0)
      out += Cp1252High[b - 0x80] ? Cp1252High[b - 0x80] : static_cast<char16_t>(b);
    else
      out += static_cast<char16_t>(b);
  }
  return out;
}

std::u16string Utf8ToWide(const std::string& text) {
  std::u16string out;
  const size_t n = text.size();
  size_t i = 0;
  auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  while (i < n) {
    const uint8_t b = byte(i);
    int extra = 0;
    uint32_t cp = 0;
    uint32_t minimum = 0;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1, cp = b & 0x1F, minimum = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, cp = b & 0x0F, minimum = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, cp = b & 0x07, minimum = 0x10000;
    } else {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k <= static_cast<size_t>(extra); ++k) {
      if (i + k >= n || (byte(i + k) & 0xC0) != 0x80)
        break;
      cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (k <= static_cast<size_t>(extra) || cp < minimum || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += u'\xFFFD';
      i += k;
      continue;
    }
    i += k;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string WideToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD; // a lone surrogate has no UTF-8 form
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// Built from the fields rather than by copying memory, so it also serves
// where long double is not the 80-bit format.
long double ExtendedToLongDouble(const uint8_t bytes[10]) {
  uint64_t mantissa = 0;
  for (int i = 7; i >= 0; --i)
    mantissa = (mantissa << 8) | bytes[i];
  const unsigned se = bytes[8] | (bytes[9] << 8);
  const bool negative = (se & 0x8000) != 0;
  const int exponent = static_cast<int>(se & 0x7FFF);
  long double v;
  if (exponent == 0x7FFF)
    v = (mantissa << 1) == 0 ? std::numeric_limits<long double>::infinity()
                             : std::numeric_limits<long double>::quiet_NaN();
  else
    v = std::ldexp(static_cast<long double>(mantissa), (exponent == 0 ? 1 : exponent) - 16383 - 63);
  return negative ? -v : v;
}

bool LongDoubleToExtended(long double value, uint8_t bytes[10]) {
  uint64_t mantissa = 0;
  unsigned se = std::signbit(value) ? 0x8000 : 0;
  bool exact = true;
  if (std::isnan(value)) {
    se |= 0x7FFF;
    mantissa = 0xC000000000000000ull;
  } else if (std::isinf(value)) {
    se |= 0x7FFF;
    mantissa = 0x8000000000000000ull;
  } else if (value != 0) {
    const long double magnitude = std::fabs(value);
    int e = 0;
    std::frexp(magnitude, &e); // magnitude = m * 2^e, m in [0.5, 1)
    int biased = e - 1 + 16383;
    if (biased >= 0x7FFF)
      return false;
    if (biased <= 0)
      biased = 0; // denormal: fixed scale, no integer bit
    const int scale = (biased == 0 ? 1 : biased) - 16383 - 63;
    const long double scaled = std::ldexp(magnitude, -scale);
    if (scaled >= 18446744073709551616.0L)
      return false;
    mantissa = static_cast<uint64_t>(scaled);
    exact = static_cast<long double>(mantissa) == scaled;
    se |= static_cast<unsigned>(biased);
  }
  for (int i = 0; i < 8; ++i)
    bytes[i] = static_cast<uint8_t>(mantissa >> (8 * i));
  bytes[8] = static_cast<uint8_t>(se);
  bytes[9] = static_cast<uint8_t>(se >> 8);
  return exact;
}

} // namespace rtl
