// A lossless tree of a form stream: objects, properties and tagged values,
// each value keeping the tag it was (or will be) written with, so that a
// stream read into a tree and written back gives the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rtl {

// The value tags of the binary form stream.
enum class TValueType : uint8_t {
  vaNull = 0x00, // end of a list
  vaList = 0x01,
  vaInt8 = 0x02,
  vaInt16 = 0x03,
  vaInt32 = 0x04,
  vaExtended = 0x05,
  vaString = 0x06,
  vaIdent = 0x07,
  vaFalse = 0x08,
  vaTrue = 0x09,
  vaBinary = 0x0A,
  vaSet = 0x0B,
  vaLString = 0x0C,
  vaNil = 0x0D,
  vaCollection = 0x0E,
  vaSingle = 0x0F,
  vaCurrency = 0x10,
  vaDate = 0x11,
  vaWString = 0x12,
  vaInt64 = 0x13,
  vaUTF8String = 0x14,
};
inline constexpr uint8_t MaxValueTag = 0x14;

// The flags in the low bits of an object record's prefix byte.
enum TFilerFlag : uint8_t { ffInherited = 1, ffChildPos = 2, ffInline = 4 };

// The smallest of vaInt8, vaInt16, vaInt32 that holds value, or vaInt64.
TValueType SmallestIntType(int64_t value);
bool IsIntegerType(TValueType type);
// The text name of a tag ("vaInt8"), for messages.
const char* ValueTypeName(TValueType type);

struct TFormProperty;
struct TFormItem;

// One value of a property, a list or a collection item.
struct TFormValue {
  TValueType Type = TValueType::vaNil;
  int64_t Int = 0;                // integers; currency's scaled int64
  std::string Str;                // string, long string, identifier, UTF-8 string (raw bytes)
  std::u16string Wide;            // wide string
  std::vector<uint8_t> Bytes;     // binary; raw bytes of extended (10), single (4), date (8)
  std::vector<std::string> Names; // set
  std::vector<TFormValue> List;   // list
  std::vector<TFormItem> Items;   // collection
  // For binary data that the text notation took from `file '...'`: the path
  // as resolved against the text's folder. Empty otherwise.
  std::string SourceFile;

  static TFormValue Integer(int64_t value); // smallest tag
  static TFormValue Integer(int64_t value, TValueType type);
  static TFormValue String(std::string text); // vaString when it fits, else vaLString
  static TFormValue Ident(std::string name);
  static TFormValue Boolean(bool value);
  static TFormValue Binary(std::vector<uint8_t> bytes);
  static TFormValue Set(std::vector<std::string> names);
  static TFormValue WideString(std::u16string text);
  static TFormValue Of(TValueType type); // vaNil, vaTrue, vaFalse, vaList, vaCollection...

  bool IsInteger() const { return IsIntegerType(Type); }
  bool IsString() const; // any of the four string tags
  // The text of any string tag, wide and UTF-8 ones converted to ANSI.
  std::string AsString() const;
  // The extended float's value, for display (0 when not an extended).
  long double AsExtended() const;
  float AsSingle() const;
  double AsDate() const;

  bool operator==(const TFormValue&) const;
};

struct TFormProperty {
  std::string Name; // dotted for nested properties
  TFormValue Value;
  bool operator==(const TFormProperty& other) const;
};

// One collection item: its optional order value and its properties.
struct TFormItem {
  bool HasOrder = false;
  TValueType OrderType = TValueType::vaInt8;
  int32_t Order = 0;
  std::vector<TFormProperty> Properties;
  bool operator==(const TFormItem& other) const;
};

struct TFormObject {
  bool HasPrefix = false;
  uint8_t Prefix = 0xF0; // whole prefix byte, 0xF0..0xFF; flags are its low bits
  TValueType ChildPosType = TValueType::vaInt8;
  int32_t ChildPos = 0; // when the prefix has ffChildPos
  std::string ClassName;
  std::string Name;
  std::vector<TFormProperty> Properties;
  std::vector<TFormObject> Children;

  uint8_t Flags() const { return HasPrefix ? static_cast<uint8_t>(Prefix & 0x0F) : 0; }
  // The first property of that name (ASCII case folded), or null.
  const TFormProperty* FindProperty(const std::string& name) const;
  TFormProperty* FindProperty(const std::string& name);
  bool operator==(const TFormObject& other) const;
};

// Text conversions for the string tags. ANSI here is Windows-1252; a unit
// without an ANSI character becomes '?'.
std::string WideToAnsi(const std::u16string& text);
std::u16string AnsiToWide(const std::string& text);
// Invalid sequences become U+FFFD.
std::u16string Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::u16string& text);

// The 80-bit extended float format: 10 little-endian bytes.
long double ExtendedToLongDouble(const uint8_t bytes[10]);
// False when value cannot be held exactly (never for an 80-bit long double).
bool LongDoubleToExtended(long double value, uint8_t bytes[10]);

} // namespace rtl
