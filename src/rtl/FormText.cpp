#include "FormText.h"

#include "FormBinary.h"
#include "Streams.h"
#include "SysUtils.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

namespace rtl {

namespace {

// ---------------------------------------------------------------- shared

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || (c >= '0' && c <= '9');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
int HexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// A plain dotted identifier: Font.Name, clMax.
bool IsPlainName(const std::string& s) {
  size_t i = 0;
  while (true) {
    if (i >= s.size() || !IsIdentStart(s[i]))
      return false;
    while (i < s.size() && IsIdentChar(s[i]))
      ++i;
    if (i == s.size())
      return true;
    if (s[i] != '.')
      return false;
    ++i;
  }
}

bool IsOneOf(const std::string& s, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (SameText(s, w))
      return true;
  return false;
}

// Words that open or close an object's body.
bool IsBodyKeyword(const std::string& s) {
  return IsOneOf(s, {"object", "inherited", "inline", "end"});
}
// Words that stand for a value of their own.
bool IsValueKeyword(const std::string& s) {
  return IsOneOf(s, {"True", "False", "nil", "file"});
}

// Shortest decimal that reads back to the same value, always with a point or
// exponent so that it does not read as an integer.
template <typename F> std::string ShortestDecimal(F value) {
  char buf[128];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  std::string s(buf, r.ptr);
  if (s.find_first_of(".eE") == std::string::npos)
    s += ".0";
  return s;
}

template <typename F> bool ParseDecimal(const std::string& s, F& value) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), value);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

#if defined(__MINGW32__)
// libstdc++ on mingw reads a long double through msvcrt's strtold, which has
// only double precision; mingw's own strtold rounds to the full 64 bits.
template <> bool ParseDecimal(const std::string& s, long double& value) {
  std::string text = s;
  const lconv* lc = std::localeconv();
  if (lc && lc->decimal_point && lc->decimal_point[0])
    for (char& c : text)
      if (c == '.')
        c = lc->decimal_point[0];
  char* end = nullptr;
  value = __mingw_strtold(text.c_str(), &end);
  return end == text.c_str() + text.size();
}
#endif

// Each byte as one unit, for quoting byte strings like wide ones.
std::u16string ByteUnits(const std::string& s) {
  std::u16string units(s.size(), u'\0');
  for (size_t i = 0; i < s.size(); ++i)
    units[i] = static_cast<uint8_t>(s[i]);
  return units;
}

std::string HexBits(uint64_t bits, int digits) {
  static const char* const hex = "0123456789ABCDEF";
  std::string s(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, bits >>= 4)
    s[static_cast<size_t>(i)] = hex[bits & 15];
  return s;
}

// ---------------------------------------------------------------- writer

class TFormTextWriter {
public:
  using TSink = std::function<void(const std::string&)>;
  TFormTextWriter() = default;
  // Hands the text to sink in pieces instead of keeping it whole.
  explicit TFormTextWriter(TSink sink) : FSink(std::move(sink)) {}
  std::string Text() { return std::move(FOut); }
  void WriteObject(const TFormObject& obj, int indent);
  // The same text, read value by value from a binary stream: only one
  // scalar value is in memory at a time, however large the form.
  void StreamObject(TBinaryFormReader& in, int indent);
  void Flush();

private:
  void WriteObjectHead(const TFormObject& head, int indent);
  void WriteItemHead(const TFormItem& item, int indent);
  void StreamProperties(TBinaryFormReader& in, int indent); // up to and with the vaNull
  void StreamValue(TBinaryFormReader& in, int indent);
  void FlushIfFull() {
    if (FSink && FOut.size() >= 65536)
      Flush();
  }

  void Indent(int indent) { FOut.append(static_cast<size_t>(indent), ' '); }
  void WriteName(const std::string& name);
  void WriteValue(const TFormValue& v, int indent);
  void WriteInteger(int64_t value, TValueType type);
  void WriteFloat(const TFormValue& v);
  // Quoted pieces and #codes; a new line (joined by +) every so often.
  void WriteQuoted(const std::u16string& units, int indent);
  void WriteBinary(const std::vector<uint8_t>& bytes, int indent);
  void WriteProperties(const std::vector<TFormProperty>& props, int indent);

  TSink FSink;
  std::string FOut;
  // Objects, lists and collections open around the value being written,
  // counted as the binary reader counts them.
  int FDepth = 0;
};

void TFormTextWriter::Flush() {
  if (FSink && !FOut.empty()) {
    FSink(FOut);
    FOut.clear();
  }
}

void TFormTextWriter::WriteName(const std::string& name) {
  if (IsPlainName(name) && !IsBodyKeyword(name))
    FOut += name;
  else
    WriteQuoted(ByteUnits(name), 0);
}

void TFormTextWriter::WriteInteger(int64_t value, TValueType type) {
  if (type == TValueType::vaInt64)
    FOut += "i64(" + std::to_string(value) + ")";
  else if (SmallestIntType(value) == type)
    FOut += std::to_string(value);
  else
    FOut += (type == TValueType::vaInt16 ? "i16(" : "i32(") + std::to_string(value) + ")";
}

void TFormTextWriter::WriteFloat(const TFormValue& v) {
  if (v.Type == TValueType::vaExtended) {
    const long double x = ExtendedToLongDouble(v.Bytes.data());
    uint8_t back[10];
    long double y = 0;
    const std::string dec = ShortestDecimal(x);
    if (std::isfinite(x) && ParseDecimal(dec, y) && LongDoubleToExtended(y, back) &&
        std::memcmp(back, v.Bytes.data(), 10) == 0) {
      FOut += dec;
      return;
    }
    uint64_t low = 0;
    for (int i = 7; i >= 0; --i)
      low = (low << 8) | v.Bytes[static_cast<size_t>(i)];
    FOut += "ext($" + HexBits(v.Bytes[9] << 8 | v.Bytes[8], 4) + HexBits(low, 16) + ")";
    return;
  }
  if (v.Type == TValueType::vaSingle) {
    const float f = v.AsSingle();
    uint32_t bits;
    std::memcpy(&bits, v.Bytes.data(), 4);
    FOut += "single(" + (std::isfinite(f) ? ShortestDecimal(f) : "$" + HexBits(bits, 8)) + ")";
    return;
  }
  const double d = v.AsDate();
  uint64_t bits;
  std::memcpy(&bits, v.Bytes.data(), 8);
  FOut += "date(" + (std::isfinite(d) ? ShortestDecimal(d) : "$" + HexBits(bits, 16)) + ")";
}

void TFormTextWriter::WriteQuoted(const std::u16string& units, int indent) {
  if (units.empty()) {
    FOut += "''";
    return;
  }
  bool inQuote = false;
  size_t lineStart = FOut.size();
  for (size_t i = 0; i < units.size(); ++i) {
    if (FOut.size() - lineStart > 64 && indent > 0) {
      if (inQuote)
        FOut += '\'';
      inQuote = false;
      FOut += " +\n";
      Indent(indent + 2);
      lineStart = FOut.size();
    }
    const char16_t c = units[i];
    if (c >= 0x20 && c < 0x7F) {
      if (!inQuote)
        FOut += '\'';
      inQuote = true;
      FOut += static_cast<char>(c);
      if (c == '\'')
        FOut += '\'';
    } else {
      if (inQuote)
        FOut += '\'';
      inQuote = false;
      FOut += '#' + std::to_string(c);
    }
  }
  if (inQuote)
    FOut += '\'';
}

void TFormTextWriter::WriteBinary(const std::vector<uint8_t>& bytes, int indent) {
  static const char* const hex = "0123456789ABCDEF";
  FOut += '{';
  const bool multiline = bytes.size() > 32;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (multiline && i % 32 == 0) {
      FOut += '\n';
      Indent(indent + 2);
    }
    FOut += hex[bytes[i] >> 4];
    FOut += hex[bytes[i] & 15];
  }
  FOut += '}';
}

void TFormTextWriter::WriteValue(const TFormValue& v, int indent) {
  switch (v.Type) {
  case TValueType::vaNull:
    throw EFilerError(SInvalidPropertyValue);
  case TValueType::vaList: {
    TNestingGuard nesting(FDepth);
    FOut += '(';
    for (const auto& item : v.List) {
      FOut += '\n';
      Indent(indent + 2);
      WriteValue(item, indent + 2);
    }
    FOut += ')';
    break;
  }
  case TValueType::vaInt8:
  case TValueType::vaInt16:
  case TValueType::vaInt32:
  case TValueType::vaInt64:
    WriteInteger(v.Int, v.Type);
    break;
  case TValueType::vaExtended:
  case TValueType::vaSingle:
  case TValueType::vaDate:
    if (v.Bytes.size() != (v.Type == TValueType::vaExtended ? 10u
                           : v.Type == TValueType::vaSingle ? 4u
                                                            : 8u))
      throw EFilerError(SInvalidPropertyValue);
    WriteFloat(v);
    break;
  case TValueType::vaCurrency: {
    const bool negative = v.Int < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(v.Int) : v.Int;
    std::string frac = std::to_string(magnitude % 10000);
    frac.insert(0, 4 - frac.size(), '0');
    while (!frac.empty() && frac.back() == '0')
      frac.pop_back();
    FOut += std::string("currency(") + (negative ? "-" : "") + std::to_string(magnitude / 10000) +
            (frac.empty() ? "" : "." + frac) + ")";
    break;
  }
  case TValueType::vaString:
  case TValueType::vaLString:
    if (v.Type == TValueType::vaLString && v.Str.size() <= 255)
      FOut += "long";
    WriteQuoted(ByteUnits(v.Str), indent);
    break;
  case TValueType::vaUTF8String:
    FOut += "utf8";
    WriteQuoted(ByteUnits(v.Str), indent);
    break;
  case TValueType::vaWString:
    FOut += "w";
    WriteQuoted(v.Wide, indent);
    break;
  case TValueType::vaIdent:
    if (IsPlainName(v.Str) && !IsValueKeyword(v.Str)) {
      FOut += v.Str;
    } else {
      FOut += "ident";
      WriteQuoted(ByteUnits(v.Str), 0);
    }
    break;
  case TValueType::vaFalse:
    FOut += "False";
    break;
  case TValueType::vaTrue:
    FOut += "True";
    break;
  case TValueType::vaNil:
    FOut += "nil";
    break;
  case TValueType::vaBinary:
    WriteBinary(v.Bytes, indent);
    break;
  case TValueType::vaSet:
    FOut += '[';
    for (size_t i = 0; i < v.Names.size(); ++i) {
      if (i > 0)
        FOut += ", ";
      WriteName(v.Names[i]);
    }
    FOut += ']';
    break;
  case TValueType::vaCollection: {
    TNestingGuard nesting(FDepth);
    FOut += '<';
    for (const auto& item : v.Items) {
      WriteItemHead(item, indent);
      WriteProperties(item.Properties, indent + 4);
      Indent(indent + 2);
      FOut += "end";
    }
    FOut += '>';
    break;
  }
  default:
    throw EFilerError(SInvalidPropertyValue);
  }
}

void TFormTextWriter::WriteProperties(const std::vector<TFormProperty>& props, int indent) {
  for (const auto& p : props) {
    Indent(indent);
    WriteName(p.Name);
    FOut += " = ";
    WriteValue(p.Value, indent);
    FOut += '\n';
  }
}

void TFormTextWriter::WriteItemHead(const TFormItem& item, int indent) {
  FOut += '\n';
  Indent(indent + 2);
  FOut += "item";
  if (item.HasOrder) {
    FOut += " [";
    WriteInteger(item.Order, item.OrderType);
    FOut += ']';
  }
  FOut += '\n';
}

void TFormTextWriter::WriteObject(const TFormObject& obj, int indent) {
  TNestingGuard nesting(FDepth);
  WriteObjectHead(obj, indent);
  WriteProperties(obj.Properties, indent + 2);
  for (const auto& child : obj.Children)
    WriteObject(child, indent + 2);
  Indent(indent);
  FOut += "end\n";
}

void TFormTextWriter::StreamObject(TBinaryFormReader& in, int indent) {
  TNestingGuard nesting(FDepth);
  TFormObject head;
  in.ReadPrefix(head.HasPrefix, head.Prefix, head.ChildPosType, head.ChildPos);
  head.ClassName = in.ReadStr();
  head.Name = in.ReadStr();
  WriteObjectHead(head, indent);
  StreamProperties(in, indent + 2);
  while (in.NextValue() != TValueType::vaNull)
    StreamObject(in, indent + 2);
  in.ReadValue();
  Indent(indent);
  FOut += "end\n";
  FlushIfFull();
}

void TFormTextWriter::StreamProperties(TBinaryFormReader& in, int indent) {
  while (in.NextValue() != TValueType::vaNull) {
    Indent(indent);
    WriteName(in.ReadStr());
    FOut += " = ";
    StreamValue(in, indent);
    FOut += '\n';
    FlushIfFull();
  }
  in.ReadValue();
}

void TFormTextWriter::StreamValue(TBinaryFormReader& in, int indent) {
  const TValueType type = in.NextValue();
  if (type == TValueType::vaList) {
    TNestingGuard nesting(FDepth);
    in.ReadValue();
    FOut += '(';
    while (in.NextValue() != TValueType::vaNull) {
      FOut += '\n';
      Indent(indent + 2);
      StreamValue(in, indent + 2);
      FlushIfFull();
    }
    in.ReadValue();
    FOut += ')';
  } else if (type == TValueType::vaCollection) {
    TNestingGuard nesting(FDepth);
    in.ReadValue();
    FOut += '<';
    while (in.NextValue() != TValueType::vaNull) {
      TFormItem item;
      const TValueType next = in.NextValue();
      if (next == TValueType::vaInt8 || next == TValueType::vaInt16 ||
          next == TValueType::vaInt32) {
        item.HasOrder = true;
        item.OrderType = next;
        item.Order = in.ReadInteger();
      }
      in.ReadListBegin();
      WriteItemHead(item, indent);
      StreamProperties(in, indent + 4);
      Indent(indent + 2);
      FOut += "end";
      FlushIfFull();
    }
    in.ReadValue();
    FOut += '>';
  } else {
    WriteValue(in.ReadFormValue(), indent);
  }
}

void TFormTextWriter::WriteObjectHead(const TFormObject& obj, int indent) {
  Indent(indent);
  const uint8_t prefix = obj.HasPrefix ? obj.Prefix : 0;
  const bool childPos = obj.HasPrefix && (prefix & ffChildPos);
  switch (prefix) {
  case 0:
  case 0xF2:
    FOut += "object ";
    break;
  case 0xF1:
  case 0xF3:
    FOut += "inherited ";
    break;
  case 0xF4:
  case 0xF6:
    FOut += "inline ";
    break;
  default:
    FOut += "object $" + HexBits(prefix, 2) + " ";
  }
  if (!obj.Name.empty()) {
    WriteName(obj.Name);
    FOut += ": ";
  }
  WriteName(obj.ClassName);
  if (childPos) {
    FOut += " [";
    WriteInteger(obj.ChildPos, obj.ChildPosType);
    FOut += ']';
  }
  FOut += '\n';
}

// ---------------------------------------------------------------- lexer

enum class TTokenKind { tkEnd, tkIdent, tkNumber, tkHex, tkString, tkBinary, tkSymbol };

struct TStringPiece {
  bool IsCode = false;
  uint32_t Code = 0;
  std::string Text;
};

struct TToken {
  TTokenKind Kind = TTokenKind::tkEnd;
  int Line = 1;
  std::string Text;                 // ident, number (with sign), hex digits (with sign)
  char Touches = 0;                 // the character right after the token
  std::vector<TStringPiece> Pieces; // string
  std::vector<uint8_t> Bytes;       // binary
};

class TFormLexer {
public:
  explicit TFormLexer(const std::string& text) : FText(text) {}
  TToken Next();
  [[noreturn]] void Error(int line, const std::string& message) const {
    throw EParserError(Format("Line %d: %s", line, message.c_str()));
  }

private:
  char Peek(size_t ahead = 0) const {
    return FPos + ahead < FText.size() ? FText[FPos + ahead] : '\0';
  }
  void SkipBlanks();
  void LexString(TToken& t);
  void LexBinary(TToken& t);
  void LexNumber(TToken& t);

  const std::string& FText;
  size_t FPos = 0;
  int FLine = 1;
};

void TFormLexer::SkipBlanks() {
  while (FPos < FText.size()) {
    const char c = FText[FPos];
    if (c == '\n') {
      ++FLine;
      ++FPos;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      ++FPos;
    } else if (c == '/' && Peek(1) == '/') {
      while (FPos < FText.size() && FText[FPos] != '\n')
        ++FPos;
    } else {
      break;
    }
  }
}

void TFormLexer::LexString(TToken& t) {
  t.Kind = TTokenKind::tkString;
  while (Peek() == '\'' || Peek() == '#') {
    TStringPiece piece;
    if (Peek() == '\'') {
      ++FPos;
      while (true) {
        if (FPos >= FText.size() || FText[FPos] == '\n')
          Error(t.Line, "Unterminated string");
        if (FText[FPos] == '\'') {
          if (Peek(1) != '\'')
            break;
          ++FPos;
        }
        piece.Text += FText[FPos++];
      }
      ++FPos;
    } else {
      ++FPos;
      piece.IsCode = true;
      uint64_t code = 0;
      size_t digits = 0;
      if (Peek() == '$') {
        ++FPos;
        for (; HexDigit(Peek()) >= 0 && code <= 0xFFFFFF; ++FPos, ++digits)
          code = code * 16 + static_cast<uint64_t>(HexDigit(Peek()));
      } else {
        for (; IsDigit(Peek()) && code <= 0xFFFFFF; ++FPos, ++digits)
          code = code * 10 + static_cast<uint64_t>(Peek() - '0');
      }
      if (digits == 0)
        Error(t.Line, "Character code expected after #");
      piece.Code = static_cast<uint32_t>(code);
    }
    t.Pieces.push_back(std::move(piece));
  }
}

void TFormLexer::LexBinary(TToken& t) {
  t.Kind = TTokenKind::tkBinary;
  ++FPos;
  int high = -1;
  while (true) {
    SkipBlanks();
    if (FPos >= FText.size())
      Error(t.Line, "Unterminated binary data");
    const char c = FText[FPos++];
    if (c == '}')
      break;
    const int d = HexDigit(c);
    if (d < 0)
      Error(FLine, Format("Invalid character '%c' in binary data", c));
    if (high < 0) {
      high = d;
    } else {
      t.Bytes.push_back(static_cast<uint8_t>(high << 4 | d));
      high = -1;
    }
  }
  if (high >= 0)
    Error(t.Line, "Odd number of hex digits in binary data");
}

void TFormLexer::LexNumber(TToken& t) {
  const size_t start = FPos;
  if (Peek() == '-')
    ++FPos;
  if (Peek() == '$') {
    t.Kind = TTokenKind::tkHex;
    ++FPos;
    while (HexDigit(Peek()) >= 0)
      ++FPos;
  } else {
    t.Kind = TTokenKind::tkNumber;
    while (IsDigit(Peek()))
      ++FPos;
    if (Peek() == '.' && IsDigit(Peek(1))) {
      ++FPos;
      while (IsDigit(Peek()))
        ++FPos;
    }
    if ((Peek() == 'e' || Peek() == 'E') &&
        (IsDigit(Peek(1)) || ((Peek(1) == '+' || Peek(1) == '-') && IsDigit(Peek(2))))) {
      FPos += 2;
      while (IsDigit(Peek()))
        ++FPos;
    }
  }
  t.Text = FText.substr(start, FPos - start);
  if (t.Text == "-" || t.Text == "$" || t.Text == "-$")
    Error(t.Line, "Number expected");
  if (IsIdentChar(Peek()))
    Error(t.Line, "Invalid number '" + t.Text + Peek() + "'");
}

TToken TFormLexer::Next() {
  SkipBlanks();
  TToken t;
  t.Line = FLine;
  if (FPos >= FText.size())
    return t;
  const char c = FText[FPos];
  if (IsIdentStart(c)) {
    t.Kind = TTokenKind::tkIdent;
    const size_t start = FPos;
    while (IsIdentChar(Peek()) || (Peek() == '.' && IsIdentStart(Peek(1)))) {
      ++FPos;
    }
    t.Text = FText.substr(start, FPos - start);
  } else if (c == '\'' || c == '#') {
    LexString(t);
  } else if (c == '{') {
    LexBinary(t);
  } else if (IsDigit(c) || c == '$' || (c == '-' && (IsDigit(Peek(1)) || Peek(1) == '$'))) {
    LexNumber(t);
  } else if (std::strchr("=:[](),<>+", c) != nullptr) {
    t.Kind = TTokenKind::tkSymbol;
    t.Text = std::string(1, c);
    ++FPos;
  } else {
    Error(FLine, Format("Unexpected character '%c'", c));
  }
  t.Touches = Peek();
  return t;
}

// ---------------------------------------------------------------- parser

class TFormParser {
public:
  TFormParser(const std::string& text, std::string baseDir, bool loadFiles)
      : FLexer(text), FBaseDir(std::move(baseDir)), FLoadFiles(loadFiles) {
    Advance();
  }
  TFormObject ParseRoot();

private:
  void Advance() { FToken = FLexer.Next(); }
  [[noreturn]] void Error(const std::string& message) const { FLexer.Error(FToken.Line, message); }
  bool IsSymbol(char c) const { return FToken.Kind == TTokenKind::tkSymbol && FToken.Text[0] == c; }
  bool IsWord(const char* word) const {
    return FToken.Kind == TTokenKind::tkIdent && SameText(FToken.Text, word);
  }
  void Expect(char c);
  void EnterNesting();
  std::string Describe() const;

  TFormObject ParseObject();
  std::string ParseName();
  TFormValue ParseValue();
  // A plain or explicitly tagged integer: 5, $10, i16(5).
  TFormValue ParseIntegerValue();
  int64_t ParseIntegerToken();
  TFormValue ParseFunction(const std::string& word);
  TFormValue ParseString(const std::string& prefix);
  std::string ParseByteString();                 // joined pieces, codes 0..255
  std::vector<TStringPiece> ParseStringPieces(); // quoted texts and codes, joined by +
  std::string BytesOf(const std::vector<TStringPiece>& pieces);
  std::u16string UnitsOf(const std::vector<TStringPiece>& pieces); // texts as UTF-8
  TFormValue ParseFile();
  TFormValue ParseFloatArg(TValueType type);
  TFormValue ParseCurrencyArg();
  TFormValue ParseSet();
  TFormValue ParseList();
  TFormValue ParseCollection();

  TFormLexer FLexer;
  TToken FToken;
  std::string FBaseDir;
  bool FLoadFiles;
  int FDepth = 0;
};

std::string TFormParser::Describe() const {
  switch (FToken.Kind) {
  case TTokenKind::tkEnd:
    return "end of text";
  case TTokenKind::tkString:
    return "string";
  case TTokenKind::tkBinary:
    return "binary data";
  default:
    return "'" + FToken.Text + "'";
  }
}

void TFormParser::Expect(char c) {
  if (!IsSymbol(c))
    Error(Format("'%c' expected but %s found", c, Describe().c_str()));
  Advance();
}

void TFormParser::EnterNesting() {
  if (++FDepth > MaxFormNesting)
    Error(SFormNestingTooDeep);
}

TFormObject TFormParser::ParseRoot() {
  TFormObject root = ParseObject();
  if (FToken.Kind != TTokenKind::tkEnd)
    Error("End of text expected but " + Describe() + " found");
  return root;
}

std::string TFormParser::ParseName() {
  if (FToken.Kind == TTokenKind::tkIdent) {
    std::string name = FToken.Text;
    Advance();
    return name;
  }
  if (FToken.Kind == TTokenKind::tkString)
    return ParseByteString();
  Error("Name expected but " + Describe() + " found");
}

TFormObject TFormParser::ParseObject() {
  EnterNesting();
  TFormObject obj;
  bool childPosAllowed = true;
  if (IsWord("inherited") || IsWord("inline")) {
    obj.HasPrefix = true;
    obj.Prefix = IsWord("inherited") ? 0xF1 : 0xF4;
    Advance();
  } else if (IsWord("object")) {
    Advance();
    if (FToken.Kind == TTokenKind::tkHex) {
      const int64_t prefix = ParseIntegerToken();
      if (prefix < 0xF0 || prefix > 0xFF)
        Error("Object prefix must be $F0 to $FF");
      obj.HasPrefix = true;
      obj.Prefix = static_cast<uint8_t>(prefix);
      childPosAllowed = false; // the prefix says it
    }
  } else {
    Error("'object' expected but " + Describe() + " found");
  }
  std::string first = ParseName();
  if (IsSymbol(':')) {
    Advance();
    obj.Name = std::move(first);
    obj.ClassName = ParseName();
  } else {
    obj.ClassName = std::move(first);
  }
  if (IsSymbol('[')) {
    if (!childPosAllowed && !(obj.Prefix & ffChildPos))
      Error("Child position given but the prefix has no child position flag");
    Advance();
    const TFormValue pos = ParseIntegerValue();
    if (pos.Type == TValueType::vaInt64)
      Error("Child position out of range");
    obj.ChildPos = static_cast<int32_t>(pos.Int);
    obj.ChildPosType = pos.Type;
    Expect(']');
    if (!obj.HasPrefix)
      obj.Prefix = 0xF0;
    obj.HasPrefix = true;
    obj.Prefix |= ffChildPos;
  } else if (obj.HasPrefix && (obj.Prefix & ffChildPos)) {
    Error("Child position '[n]' expected");
  }
  while (!IsWord("end")) {
    if (IsWord("object") || IsWord("inherited") || IsWord("inline")) {
      obj.Children.push_back(ParseObject());
      continue;
    }
    if (FToken.Kind == TTokenKind::tkEnd)
      Error("'end' expected but end of text found");
    TFormProperty p;
    p.Name = ParseName();
    if (p.Name.empty())
      Error("Empty property name");
    Expect('=');
    p.Value = ParseValue();
    obj.Properties.push_back(std::move(p));
  }
  Advance();
  --FDepth;
  return obj;
}

int64_t TFormParser::ParseIntegerToken() {
  const std::string& s = FToken.Text;
  const bool negative = s[0] == '-';
  const size_t start = negative ? 1 : 0;
  uint64_t magnitude = 0;
  if (FToken.Kind == TTokenKind::tkHex) {
    if (s.size() - start - 1 > 16)
      Error("Hex number too long");
    for (size_t i = start + 1; i < s.size(); ++i)
      magnitude = magnitude * 16 + static_cast<uint64_t>(HexDigit(s[i]));
  } else if (FToken.Kind == TTokenKind::tkNumber && s.find_first_of(".eE") == std::string::npos) {
    for (size_t i = start; i < s.size(); ++i) {
      if (magnitude > (std::numeric_limits<uint64_t>::max() - 9) / 10)
        Error("Integer out of range: " + s);
      magnitude = magnitude * 10 + static_cast<uint64_t>(s[i] - '0');
    }
  } else {
    Error("Integer expected but " + Describe() + " found");
  }
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (magnitude > limit)
    Error("Integer out of range: " + s);
  Advance();
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

TFormValue TFormParser::ParseIntegerValue() {
  if (FToken.Kind == TTokenKind::tkIdent && FToken.Touches == '(' &&
      IsOneOf(FToken.Text, {"i8", "i16", "i32", "i64"})) {
    const std::string word = FToken.Text;
    Advance();
    return ParseFunction(word);
  }
  return TFormValue::Integer(ParseIntegerToken());
}

TFormValue TFormParser::ParseFloatArg(TValueType type) {
  TFormValue v;
  v.Type = type;
  const int size = type == TValueType::vaExtended ? 10 : type == TValueType::vaSingle ? 4 : 8;
  v.Bytes.resize(static_cast<size_t>(size));
  if (FToken.Kind == TTokenKind::tkHex) {
    const std::string& s = FToken.Text;
    if (s[0] == '-' || s.size() - 1 > static_cast<size_t>(size) * 2)
      Error(Format("At most %d hex digits expected", size * 2));
    // The number's lowest digits are the first bytes, as in memory.
    std::string digits = s.substr(1);
    digits.insert(0, static_cast<size_t>(size) * 2 - digits.size(), '0');
    for (size_t k = 0; k < v.Bytes.size(); ++k) {
      const size_t at = digits.size() - 2 * (k + 1);
      v.Bytes[k] = static_cast<uint8_t>(HexDigit(digits[at]) << 4 | HexDigit(digits[at + 1]));
    }
    Advance();
    return v;
  }
  if (FToken.Kind != TTokenKind::tkNumber)
    Error("Number expected but " + Describe() + " found");
  bool ok = true;
  if (type == TValueType::vaExtended) {
    long double x = 0;
    ok = ParseDecimal(FToken.Text, x) && LongDoubleToExtended(x, v.Bytes.data());
  } else if (type == TValueType::vaSingle) {
    float f = 0;
    ok = ParseDecimal(FToken.Text, f);
    std::memcpy(v.Bytes.data(), &f, 4);
  } else {
    double d = 0;
    ok = ParseDecimal(FToken.Text, d);
    std::memcpy(v.Bytes.data(), &d, 8);
  }
  if (!ok)
    Error("Invalid floating point number " + FToken.Text);
  Advance();
  return v;
}

TFormValue TFormParser::ParseCurrencyArg() {
  if (FToken.Kind != TTokenKind::tkNumber || FToken.Text.find_first_of("eE") != std::string::npos)
    Error("Decimal number expected but " + Describe() + " found");
  const std::string& s = FToken.Text;
  const bool negative = s[0] == '-';
  const size_t point = s.find('.');
  std::string digits =
      s.substr(negative ? 1 : 0,
               point == std::string::npos ? std::string::npos : point - (negative ? 1 : 0));
  std::string frac = point == std::string::npos ? "" : s.substr(point + 1);
  if (frac.size() > 4)
    Error("Currency has at most four decimals: " + s);
  frac.append(4 - frac.size(), '0');
  uint64_t magnitude = 0;
  for (char c : digits + frac) {
    if (magnitude > (std::numeric_limits<uint64_t>::max() - 9) / 10)
      Error("Currency out of range: " + s);
    magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
  }
  if (magnitude > (negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1))
    Error("Currency out of range: " + s);
  Advance();
  TFormValue v;
  v.Type = TValueType::vaCurrency;
  v.Int = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return v;
}

TFormValue TFormParser::ParseFunction(const std::string& word) {
  Expect('(');
  TFormValue v;
  if (IsOneOf(word, {"i8", "i16", "i32", "i64"})) {
    const TValueType type = SameText(word, "i8")    ? TValueType::vaInt8
                            : SameText(word, "i16") ? TValueType::vaInt16
                            : SameText(word, "i32") ? TValueType::vaInt32
                                                    : TValueType::vaInt64;
    const int64_t value = ParseIntegerToken();
    if (type != TValueType::vaInt64 && SmallestIntType(value) > type)
      Error(Format("%lld does not fit %s", static_cast<long long>(value), word.c_str()));
    v = TFormValue::Integer(value, type);
  } else if (SameText(word, "ext")) {
    v = ParseFloatArg(TValueType::vaExtended);
  } else if (SameText(word, "single")) {
    v = ParseFloatArg(TValueType::vaSingle);
  } else if (SameText(word, "date")) {
    v = ParseFloatArg(TValueType::vaDate);
  } else {
    v = ParseCurrencyArg();
  }
  Expect(')');
  return v;
}

std::vector<TStringPiece> TFormParser::ParseStringPieces() {
  std::vector<TStringPiece> pieces;
  while (true) {
    if (FToken.Kind != TTokenKind::tkString)
      Error("String expected but " + Describe() + " found");
    pieces.insert(pieces.end(), FToken.Pieces.begin(), FToken.Pieces.end());
    Advance();
    if (!IsSymbol('+'))
      return pieces;
    Advance();
  }
}

std::string TFormParser::BytesOf(const std::vector<TStringPiece>& pieces) {
  std::string out;
  for (const auto& piece : pieces) {
    if (!piece.IsCode)
      out += piece.Text;
    else if (piece.Code > 255)
      Error(Format("Character code #%u out of range", piece.Code));
    else
      out += static_cast<char>(piece.Code);
  }
  return out;
}

std::u16string TFormParser::UnitsOf(const std::vector<TStringPiece>& pieces) {
  std::u16string units;
  for (const auto& piece : pieces) {
    if (piece.IsCode) {
      if (piece.Code > 0xFFFF)
        Error(Format("Character code #%u out of range", piece.Code));
      units += static_cast<char16_t>(piece.Code);
      continue;
    }
    const std::u16string decoded = Utf8ToWide(piece.Text);
    if (WideToUtf8(decoded) != piece.Text)
      Error("Wide string text is not valid UTF-8");
    units += decoded;
  }
  return units;
}

std::string TFormParser::ParseByteString() {
  return BytesOf(ParseStringPieces());
}

TFormValue TFormParser::ParseString(const std::string& prefix) {
  const std::vector<TStringPiece> pieces = ParseStringPieces();
  // A plain string that needs a code beyond a byte is a wide string, as
  // forms are commonly written.
  const bool wide =
      SameText(prefix, "w") ||
      (prefix.empty() && std::any_of(pieces.begin(), pieces.end(), [](const TStringPiece& p) {
         return p.IsCode && p.Code > 255;
       }));
  if (wide)
    return TFormValue::WideString(UnitsOf(pieces));
  const std::string bytes = BytesOf(pieces);
  if (SameText(prefix, "utf8")) {
    TFormValue v = TFormValue::Of(TValueType::vaUTF8String);
    v.Str = bytes;
    return v;
  }
  if (SameText(prefix, "ident"))
    return TFormValue::Ident(bytes);
  TFormValue v = TFormValue::String(bytes);
  if (SameText(prefix, "long"))
    v.Type = TValueType::vaLString;
  return v;
}

TFormValue TFormParser::ParseFile() {
  const int line = FToken.Line;
  const std::string path = ParseByteString();
  if (path.empty())
    FLexer.Error(line, "Empty file name");
  const bool absolute = path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':');
  TFormValue v = TFormValue::Binary({});
  v.SourceFile = absolute || FBaseDir.empty() ? path : FBaseDir + "/" + path;
  if (!FLoadFiles)
    return v;
  try {
    TFileStream file(v.SourceFile, TFileMode::fmOpenRead);
    const int64_t size = file.Size();
    if (size > std::numeric_limits<int32_t>::max())
      FLexer.Error(line, "File too large for a form stream: " + v.SourceFile);
    v.Bytes.resize(static_cast<size_t>(size));
    if (size > 0)
      file.ReadBuffer(v.Bytes.data(), static_cast<int32_t>(size));
  } catch (const EParserError&) {
    throw;
  } catch (const Exception& e) {
    FLexer.Error(line, e.Message());
  }
  return v;
}

TFormValue TFormParser::ParseSet() {
  Advance();
  TFormValue v = TFormValue::Set({});
  while (!IsSymbol(']')) {
    if (!v.Names.empty())
      Expect(',');
    std::string name = ParseName();
    if (name.empty())
      Error("Empty set member");
    v.Names.push_back(std::move(name));
  }
  Advance();
  return v;
}

TFormValue TFormParser::ParseList() {
  Advance();
  EnterNesting();
  TFormValue v = TFormValue::Of(TValueType::vaList);
  while (!IsSymbol(')')) {
    if (IsSymbol(','))
      Advance();
    else
      v.List.push_back(ParseValue());
  }
  Advance();
  --FDepth;
  return v;
}

TFormValue TFormParser::ParseCollection() {
  Advance();
  EnterNesting();
  TFormValue v = TFormValue::Of(TValueType::vaCollection);
  while (!IsSymbol('>')) {
    if (!IsWord("item"))
      Error("'item' expected but " + Describe() + " found");
    Advance();
    TFormItem item;
    if (IsSymbol('[')) {
      Advance();
      const TFormValue order = ParseIntegerValue();
      if (order.Type == TValueType::vaInt64)
        Error("Item order out of range");
      item.HasOrder = true;
      item.OrderType = order.Type;
      item.Order = static_cast<int32_t>(order.Int);
      Expect(']');
    }
    while (!IsWord("end")) {
      if (FToken.Kind == TTokenKind::tkEnd)
        Error("'end' expected but end of text found");
      TFormProperty p;
      p.Name = ParseName();
      if (p.Name.empty())
        Error("Empty property name");
      Expect('=');
      p.Value = ParseValue();
      item.Properties.push_back(std::move(p));
    }
    Advance();
    v.Items.push_back(std::move(item));
  }
  Advance();
  --FDepth;
  return v;
}

TFormValue TFormParser::ParseValue() {
  switch (FToken.Kind) {
  case TTokenKind::tkNumber:
    if (FToken.Text.find_first_of(".eE") != std::string::npos)
      return ParseFloatArg(TValueType::vaExtended);
    return TFormValue::Integer(ParseIntegerToken());
  case TTokenKind::tkHex:
    return TFormValue::Integer(ParseIntegerToken());
  case TTokenKind::tkString:
    return ParseString("");
  case TTokenKind::tkBinary: {
    TFormValue v = TFormValue::Binary(std::move(FToken.Bytes));
    Advance();
    return v;
  }
  case TTokenKind::tkSymbol:
    if (IsSymbol('['))
      return ParseSet();
    if (IsSymbol('('))
      return ParseList();
    if (IsSymbol('<'))
      return ParseCollection();
    break;
  case TTokenKind::tkIdent: {
    const std::string word = FToken.Text;
    const char touches = FToken.Touches;
    if (touches == '(' &&
        IsOneOf(word, {"i8", "i16", "i32", "i64", "ext", "single", "date", "currency"})) {
      Advance();
      return ParseFunction(word);
    }
    if ((touches == '\'' || touches == '#') && IsOneOf(word, {"w", "utf8", "long", "ident"})) {
      Advance();
      return ParseString(word);
    }
    Advance();
    if (SameText(word, "True"))
      return TFormValue::Of(TValueType::vaTrue);
    if (SameText(word, "False"))
      return TFormValue::Of(TValueType::vaFalse);
    if (SameText(word, "nil"))
      return TFormValue::Of(TValueType::vaNil);
    if (SameText(word, "file"))
      return ParseFile();
    return TFormValue::Ident(word);
  }
  case TTokenKind::tkEnd:
    break;
  }
  Error("Value expected but " + Describe() + " found");
}

} // namespace

std::string FormToText(const TFormObject& root) {
  TFormTextWriter writer;
  writer.WriteObject(root, 0);
  return writer.Text();
}

void FormStreamToText(TStream& form, const std::function<void(const std::string&)>& sink) {
  TBinaryFormReader in(form);
  in.ReadSignature();
  TFormTextWriter writer(sink);
  writer.StreamObject(in, 0);
  writer.Flush();
}

TFormObject TextToForm(const std::string& text, const std::string& baseDir, bool loadFiles) {
  TFormParser parser(text, baseDir, loadFiles);
  return parser.ParseRoot();
}

TFormObject LoadFormText(const std::string& fileName, bool loadFiles) {
  TFileStream file(fileName, TFileMode::fmOpenRead);
  std::string text(static_cast<size_t>(file.Size()), '\0');
  if (!text.empty())
    file.ReadBuffer(text.data(), static_cast<int32_t>(text.size()));
  const size_t slash = fileName.find_last_of("/\\");
  const std::string baseDir = slash == std::string::npos ? "" : fileName.substr(0, slash);
  return TextToForm(text, baseDir, loadFiles);
}

} // namespace rtl
