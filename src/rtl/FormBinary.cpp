#include "FormBinary.h"

#include "SysUtils.h"

#include <cstring>
#include <limits>

namespace rtl {

namespace {

[[noreturn]] void InvalidValue() {
  throw EFilerError(SInvalidPropertyValue);
}

uint32_t LoadLE32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t LoadLE64(const uint8_t* p) {
  return LoadLE32(p) | (static_cast<uint64_t>(LoadLE32(p + 4)) << 32);
}

void StoreLE(uint8_t* p, uint64_t v, int size) {
  for (int i = 0; i < size; ++i)
    p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Size of the raw payload of the fixed-size float tags.
int FloatSize(TValueType type) {
  switch (type) {
  case TValueType::vaExtended:
    return 10;
  case TValueType::vaSingle:
    return 4;
  case TValueType::vaDate:
    return 8;
  default:
    return 0;
  }
}

} // namespace

TNestingGuard::TNestingGuard(int& depth) : FDepth(depth) {
  if (FDepth >= MaxFormNesting)
    throw EFilerError(SFormNestingTooDeep);
  ++FDepth;
}

// ---- reader

TBinaryFormReader::TBinaryFormReader(TStream& stream) : FStream(stream), FEnd(stream.Size()) {}

int64_t TBinaryFormReader::Remaining() {
  const int64_t left = FEnd - FStream.Position();
  return left > 0 ? left : 0;
}

void TBinaryFormReader::Read(void* buffer, int32_t count) {
  FStream.ReadBuffer(buffer, count);
}

uint8_t TBinaryFormReader::ReadByte() {
  uint8_t b;
  Read(&b, 1);
  return b;
}

void TBinaryFormReader::ReadSignature() {
  char sig[4];
  Read(sig, 4);
  if (std::memcmp(sig, FormSignature, 4) != 0)
    throw EFilerError(SInvalidStreamFormat);
}

TValueType TBinaryFormReader::ReadValue() {
  const uint8_t tag = ReadByte();
  if (tag > MaxValueTag)
    InvalidValue();
  return static_cast<TValueType>(tag);
}

TValueType TBinaryFormReader::NextValue() {
  const uint8_t tag = ReadByte();
  FStream.Seek(-1, TSeekOrigin::soCurrent);
  return static_cast<TValueType>(tag);
}

void TBinaryFormReader::ReadListBegin() {
  if (ReadValue() != TValueType::vaList)
    InvalidValue();
}

void TBinaryFormReader::ReadListEnd() {
  if (ReadValue() != TValueType::vaNull)
    InvalidValue();
}

void TBinaryFormReader::ReadPrefix(bool& hasPrefix, uint8_t& prefix, TValueType& childPosType,
                                   int32_t& childPos) {
  hasPrefix = (static_cast<uint8_t>(NextValue()) & 0xF0) == 0xF0;
  prefix = 0xF0;
  childPosType = TValueType::vaInt8;
  childPos = 0;
  if (!hasPrefix)
    return;
  prefix = ReadByte();
  if (prefix & ffChildPos) {
    childPosType = NextValue();
    childPos = ReadInteger();
  }
}

int32_t TBinaryFormReader::ReadInteger() {
  switch (ReadValue()) {
  case TValueType::vaInt8:
    return static_cast<int8_t>(ReadByte());
  case TValueType::vaInt16: {
    uint8_t b[2];
    Read(b, 2);
    return static_cast<int16_t>(b[0] | (b[1] << 8));
  }
  case TValueType::vaInt32: {
    uint8_t b[4];
    Read(b, 4);
    return static_cast<int32_t>(LoadLE32(b));
  }
  default:
    InvalidValue();
  }
}

int64_t TBinaryFormReader::ReadInt64() {
  if (NextValue() != TValueType::vaInt64)
    return ReadInteger();
  ReadValue();
  uint8_t b[8];
  Read(b, 8);
  return static_cast<int64_t>(LoadLE64(b));
}

int32_t TBinaryFormReader::ReadLength(int unitSize) {
  uint8_t b[4];
  Read(b, 4);
  const auto count = static_cast<int32_t>(LoadLE32(b));
  // A length beyond the stream is a truncation: refuse it before allocating.
  if (count < 0 || static_cast<int64_t>(count) * unitSize > Remaining())
    throw EReadError(SReadError);
  return count;
}

std::string TBinaryFormReader::ReadBytesAsString(int32_t count) {
  std::string s(static_cast<size_t>(count), '\0');
  if (count > 0)
    Read(s.data(), count);
  return s;
}

std::string TBinaryFormReader::ReadStr() {
  return ReadBytesAsString(ReadByte());
}

std::string TBinaryFormReader::ReadString() {
  switch (NextValue()) {
  case TValueType::vaWString:
  case TValueType::vaUTF8String:
    return ReadFormValue().AsString();
  case TValueType::vaString:
    ReadValue();
    return ReadStr();
  case TValueType::vaLString:
    ReadValue();
    return ReadBytesAsString(ReadLength(1));
  default:
    ReadValue();
    InvalidValue();
  }
}

std::u16string TBinaryFormReader::ReadWideString() {
  switch (NextValue()) {
  case TValueType::vaWString:
    return ReadFormValue().Wide;
  case TValueType::vaUTF8String:
    return Utf8ToWide(ReadFormValue().Str);
  default:
    return AnsiToWide(ReadString());
  }
}

std::string TBinaryFormReader::ReadIdent() {
  switch (ReadValue()) {
  case TValueType::vaIdent:
    return ReadStr();
  case TValueType::vaFalse:
    return "False";
  case TValueType::vaTrue:
    return "True";
  case TValueType::vaNil:
    return "nil";
  case TValueType::vaNull:
    return "";
  default:
    InvalidValue();
  }
}

bool TBinaryFormReader::ReadBoolean() {
  switch (ReadValue()) {
  case TValueType::vaTrue:
    return true;
  case TValueType::vaFalse:
    return false;
  default:
    InvalidValue();
  }
}

std::vector<uint8_t> TBinaryFormReader::ReadBinary() {
  if (ReadValue() != TValueType::vaBinary)
    InvalidValue();
  std::vector<uint8_t> bytes(static_cast<size_t>(ReadLength(1)));
  if (!bytes.empty())
    Read(bytes.data(), static_cast<int32_t>(bytes.size()));
  return bytes;
}

std::vector<std::string> TBinaryFormReader::ReadSet() {
  if (ReadValue() != TValueType::vaSet)
    InvalidValue();
  std::vector<std::string> names;
  for (std::string name = ReadStr(); !name.empty(); name = ReadStr())
    names.push_back(std::move(name));
  return names;
}

void TBinaryFormReader::SkipValue() {
  // Lists and collections are passed over piece by piece, never built.
  const TValueType type = ReadValue();
  if (type == TValueType::vaList) {
    TNestingGuard nesting(FDepth);
    while (NextValue() != TValueType::vaNull)
      SkipValue();
    ReadValue();
  } else if (type == TValueType::vaCollection) {
    TNestingGuard nesting(FDepth);
    while (NextValue() != TValueType::vaNull) {
      const TValueType next = NextValue();
      if (next == TValueType::vaInt8 || next == TValueType::vaInt16 || next == TValueType::vaInt32)
        ReadInteger();
      ReadListBegin();
      while (NextValue() != TValueType::vaNull) {
        ReadStr();
        SkipValue();
      }
      ReadValue();
    }
    ReadValue();
  } else {
    ReadFormValueOf(type);
  }
}

TFormValue TBinaryFormReader::ReadFormValue() {
  return ReadFormValueOf(ReadValue());
}

TFormValue TBinaryFormReader::ReadFormValueOf(TValueType type) {
  TFormValue v;
  v.Type = type;
  switch (type) {
  case TValueType::vaNull:
    InvalidValue(); // an end marker where a value belongs
  case TValueType::vaList: {
    TNestingGuard nesting(FDepth);
    while (NextValue() != TValueType::vaNull)
      v.List.push_back(ReadFormValue());
    ReadValue();
    break;
  }
  case TValueType::vaInt8:
  case TValueType::vaInt16:
  case TValueType::vaInt32:
  case TValueType::vaInt64:
    FStream.Seek(-1, TSeekOrigin::soCurrent);
    v.Int = ReadInt64();
    break;
  case TValueType::vaExtended:
  case TValueType::vaSingle:
  case TValueType::vaDate:
    v.Bytes.resize(static_cast<size_t>(FloatSize(type)));
    Read(v.Bytes.data(), FloatSize(type));
    break;
  case TValueType::vaCurrency: {
    uint8_t b[8];
    Read(b, 8);
    v.Int = static_cast<int64_t>(LoadLE64(b));
    break;
  }
  case TValueType::vaString:
  case TValueType::vaIdent:
    v.Str = ReadStr();
    break;
  case TValueType::vaLString:
  case TValueType::vaUTF8String:
    v.Str = ReadBytesAsString(ReadLength(1));
    break;
  case TValueType::vaFalse:
  case TValueType::vaTrue:
  case TValueType::vaNil:
    break;
  case TValueType::vaBinary:
    FStream.Seek(-1, TSeekOrigin::soCurrent);
    v.Bytes = ReadBinary();
    break;
  case TValueType::vaSet:
    FStream.Seek(-1, TSeekOrigin::soCurrent);
    v.Names = ReadSet();
    break;
  case TValueType::vaCollection: {
    TNestingGuard nesting(FDepth);
    while (NextValue() != TValueType::vaNull) {
      TFormItem item;
      const TValueType next = NextValue();
      if (next == TValueType::vaInt8 || next == TValueType::vaInt16 ||
          next == TValueType::vaInt32) {
        item.HasOrder = true;
        item.OrderType = next;
        item.Order = ReadInteger();
      }
      ReadListBegin();
      item.Properties = ReadFormProperties();
      v.Items.push_back(std::move(item));
    }
    ReadValue();
    break;
  }
  case TValueType::vaWString: {
    const int32_t count = ReadLength(2);
    std::vector<uint8_t> raw(static_cast<size_t>(count) * 2);
    if (count > 0)
      Read(raw.data(), count * 2);
    v.Wide.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < v.Wide.size(); ++i)
      v.Wide[i] = static_cast<char16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    break;
  }
  }
  return v;
}

std::vector<TFormProperty> TBinaryFormReader::ReadFormProperties() {
  std::vector<TFormProperty> props;
  while (NextValue() != TValueType::vaNull) {
    TFormProperty p;
    p.Name = ReadStr();
    p.Value = ReadFormValue();
    props.push_back(std::move(p));
  }
  ReadValue();
  return props;
}

TFormObject TBinaryFormReader::ReadFormObject() {
  TNestingGuard nesting(FDepth);
  TFormObject obj;
  ReadPrefix(obj.HasPrefix, obj.Prefix, obj.ChildPosType, obj.ChildPos);
  obj.ClassName = ReadStr();
  obj.Name = ReadStr();
  obj.Properties = ReadFormProperties();
  while (NextValue() != TValueType::vaNull)
    obj.Children.push_back(ReadFormObject());
  ReadValue();
  return obj;
}

// ---- writer

void TBinaryFormWriter::Write(const void* buffer, int32_t count) {
  FStream.WriteBuffer(buffer, count);
}

void TBinaryFormWriter::WriteRaw(const void* data, size_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    const auto chunk = static_cast<int32_t>(count < 0x40000000u ? count : 0x40000000u);
    Write(p, chunk);
    p += chunk;
    count -= static_cast<size_t>(chunk);
  }
}

void TBinaryFormWriter::WriteSignature() {
  Write(FormSignature, 4);
}

void TBinaryFormWriter::WriteLength(size_t count) {
  if (count > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw EFilerError("Value too long for a form stream");
  uint8_t b[4];
  StoreLE(b, count, 4);
  Write(b, 4);
}

void TBinaryFormWriter::WriteStr(const std::string& text) {
  if (text.size() > 255)
    throw EFilerError("Name too long for a form stream: " + text.substr(0, 32) + "...");
  WriteByte(static_cast<uint8_t>(text.size()));
  WriteRaw(text.data(), text.size());
}

void TBinaryFormWriter::WritePrefix(bool hasPrefix, uint8_t prefix, TValueType childPosType,
                                    int32_t childPos) {
  if (!hasPrefix)
    return;
  if ((prefix & 0xF0) != 0xF0)
    throw EFilerError(Format("Invalid object prefix $%02X", prefix));
  WriteByte(prefix);
  if (prefix & ffChildPos)
    WriteInteger(childPos, childPosType);
}

void TBinaryFormWriter::WriteInteger(int64_t value) {
  WriteInteger(value, SmallestIntType(value));
}

void TBinaryFormWriter::WriteInteger(int64_t value, TValueType type) {
  int size;
  switch (type) {
  case TValueType::vaInt8:
    size = 1;
    break;
  case TValueType::vaInt16:
    size = 2;
    break;
  case TValueType::vaInt32:
    size = 4;
    break;
  case TValueType::vaInt64:
    size = 8;
    break;
  default:
    throw EFilerError(Format("%s is not an integer tag", ValueTypeName(type)));
  }
  if (size < 8 && SmallestIntType(value) > type)
    throw EFilerError(
        Format("Integer %lld does not fit %s", static_cast<long long>(value), ValueTypeName(type)));
  uint8_t b[9];
  b[0] = static_cast<uint8_t>(type);
  StoreLE(b + 1, static_cast<uint64_t>(value), size);
  Write(b, 1 + size);
}

void TBinaryFormWriter::WriteString(const std::string& text) {
  if (text.size() <= 255) {
    WriteValue(TValueType::vaString);
    WriteStr(text);
  } else {
    WriteValue(TValueType::vaLString);
    WriteLength(text.size());
    WriteRaw(text.data(), text.size());
  }
}

void TBinaryFormWriter::WriteWideString(const std::u16string& text) {
  WriteValue(TValueType::vaWString);
  WriteLength(text.size());
  std::vector<uint8_t> raw(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i)
    StoreLE(&raw[2 * i], text[i], 2);
  WriteRaw(raw.data(), raw.size());
}

void TBinaryFormWriter::WriteUTF8String(const std::string& utf8) {
  WriteValue(TValueType::vaUTF8String);
  WriteLength(utf8.size());
  WriteRaw(utf8.data(), utf8.size());
}

void TBinaryFormWriter::WriteIdent(const std::string& name) {
  if (SameText(name, "False"))
    WriteValue(TValueType::vaFalse);
  else if (SameText(name, "True"))
    WriteValue(TValueType::vaTrue);
  else if (SameText(name, "nil"))
    WriteValue(TValueType::vaNil);
  else {
    WriteValue(TValueType::vaIdent);
    WriteStr(name);
  }
}

void TBinaryFormWriter::WriteBoolean(bool value) {
  WriteValue(value ? TValueType::vaTrue : TValueType::vaFalse);
}

void TBinaryFormWriter::WriteBinary(const void* data, int32_t count) {
  if (count < 0)
    throw EFilerError(SInvalidPropertyValue);
  WriteValue(TValueType::vaBinary);
  WriteLength(static_cast<size_t>(count));
  WriteRaw(data, static_cast<size_t>(count));
}

void TBinaryFormWriter::WriteBinary(const std::function<void(TStream&)>& writeData) {
  TMemoryStream buffer;
  writeData(buffer);
  WriteValue(TValueType::vaBinary);
  WriteLength(static_cast<size_t>(buffer.Size()));
  WriteRaw(buffer.Memory(), static_cast<size_t>(buffer.Size()));
}

void TBinaryFormWriter::WriteSet(const std::vector<std::string>& names) {
  WriteValue(TValueType::vaSet);
  for (const auto& name : names) {
    if (name.empty()) // would end the set early
      throw EFilerError("Empty set member");
    WriteStr(name);
  }
  WriteByte(0);
}

void TBinaryFormWriter::WriteFormValue(const TFormValue& v) {
  switch (v.Type) {
  case TValueType::vaNull:
    throw EFilerError(SInvalidPropertyValue);
  case TValueType::vaList: {
    TNestingGuard nesting(FDepth);
    WriteListBegin();
    for (const auto& item : v.List)
      WriteFormValue(item);
    WriteListEnd();
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
    if (v.Bytes.size() != static_cast<size_t>(FloatSize(v.Type)))
      throw EFilerError(Format("%s needs %d bytes", ValueTypeName(v.Type), FloatSize(v.Type)));
    WriteValue(v.Type);
    WriteRaw(v.Bytes.data(), v.Bytes.size());
    break;
  case TValueType::vaCurrency: {
    uint8_t b[9];
    b[0] = static_cast<uint8_t>(v.Type);
    StoreLE(b + 1, static_cast<uint64_t>(v.Int), 8);
    Write(b, 9);
    break;
  }
  case TValueType::vaString:
  case TValueType::vaIdent:
    WriteValue(v.Type);
    WriteStr(v.Str);
    break;
  case TValueType::vaLString:
    WriteValue(v.Type);
    WriteLength(v.Str.size());
    WriteRaw(v.Str.data(), v.Str.size());
    break;
  case TValueType::vaUTF8String:
    WriteUTF8String(v.Str);
    break;
  case TValueType::vaFalse:
  case TValueType::vaTrue:
  case TValueType::vaNil:
    WriteValue(v.Type);
    break;
  case TValueType::vaBinary:
    WriteValue(v.Type);
    WriteLength(v.Bytes.size());
    WriteRaw(v.Bytes.data(), v.Bytes.size());
    break;
  case TValueType::vaSet:
    WriteSet(v.Names);
    break;
  case TValueType::vaCollection: {
    TNestingGuard nesting(FDepth);
    WriteValue(v.Type);
    for (const auto& item : v.Items) {
      if (item.HasOrder) {
        if (!IsIntegerType(item.OrderType) || item.OrderType == TValueType::vaInt64)
          throw EFilerError(SInvalidPropertyValue);
        WriteInteger(item.Order, item.OrderType);
      }
      WriteListBegin();
      WriteFormProperties(item.Properties);
    }
    WriteListEnd();
    break;
  }
  case TValueType::vaWString:
    WriteWideString(v.Wide);
    break;
  default:
    throw EFilerError(SInvalidPropertyValue);
  }
}

void TBinaryFormWriter::WriteFormProperties(const std::vector<TFormProperty>& properties) {
  for (const auto& p : properties) {
    if (p.Name.empty()) // would end the property list early
      throw EFilerError("Empty property name");
    WriteStr(p.Name);
    WriteFormValue(p.Value);
  }
  WriteListEnd();
}

void TBinaryFormWriter::WriteFormObject(const TFormObject& object) {
  // Without a prefix, the class name's length byte must not read as one, nor
  // as the end of the parent's children.
  if (!object.HasPrefix && (object.ClassName.empty() || object.ClassName.size() >= 0xF0))
    throw EFilerError("Class name of an object without prefix must have 1 to 239 characters");
  if (object.HasPrefix && (object.Prefix & ffChildPos) &&
      (!IsIntegerType(object.ChildPosType) || object.ChildPosType == TValueType::vaInt64))
    throw EFilerError(SInvalidPropertyValue);
  TNestingGuard nesting(FDepth);
  WritePrefix(object.HasPrefix, object.Prefix, object.ChildPosType, object.ChildPos);
  WriteStr(object.ClassName);
  WriteStr(object.Name);
  WriteFormProperties(object.Properties);
  for (const auto& child : object.Children)
    WriteFormObject(child);
  WriteListEnd();
}

// ---- whole streams

TFormObject ReadForm(TStream& stream) {
  TBinaryFormReader reader(stream);
  reader.ReadSignature();
  return reader.ReadFormObject();
}

TFormObject ReadForm(const uint8_t* data, size_t size, size_t* used) {
  TReadOnlyMemoryStream stream(data, size);
  TFormObject root = ReadForm(stream);
  if (used)
    *used = static_cast<size_t>(stream.Position());
  return root;
}

TFormObject ReadForm(const std::vector<uint8_t>& bytes, size_t* used) {
  return ReadForm(bytes.data(), bytes.size(), used);
}

void WriteForm(TStream& stream, const TFormObject& root) {
  TBinaryFormWriter writer(stream);
  writer.WriteSignature();
  writer.WriteFormObject(root);
}

std::vector<uint8_t> WriteForm(const TFormObject& root) {
  TMemoryStream stream;
  WriteForm(stream, root);
  return stream.Bytes();
}

} // namespace rtl
