// The binary form stream: "TPF0", then one object record. A reader and a
// writer of its pieces over a TStream (for the component model's filer), and
// whole-stream conversion to and from a TFormObject tree.
//
// Hostile input: truncation raises EReadError "Stream read error"; a bad
// signature, tag or prefix raises EFilerError; no length read from the stream
// is trusted beyond the bytes that remain, and nesting is bounded.
#pragma once

#include "FormTree.h"
#include "Streams.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rtl {

// Counts one level of nesting for as long as it lives; EFilerError "Form
// nesting too deep" past MaxFormNesting.
class TNestingGuard {
public:
  explicit TNestingGuard(int& depth);
  ~TNestingGuard() { --FDepth; }
  TNestingGuard(const TNestingGuard&) = delete;
  TNestingGuard& operator=(const TNestingGuard&) = delete;

private:
  int& FDepth;
};

inline constexpr char FormSignature[4] = {'T', 'P', 'F', '0'};
// Deepest nesting of objects, lists and collections a stream may have.
inline constexpr int MaxFormNesting = 256;

inline constexpr const char* SInvalidStreamFormat = "Invalid stream format";
inline constexpr const char* SFormNestingTooDeep = "Form nesting too deep";

class TBinaryFormReader {
public:
  // Reads from stream's current position up to its current end.
  explicit TBinaryFormReader(TStream& stream);

  TStream& Stream() { return FStream; }
  // Bytes between the position and the end of the stream.
  int64_t Remaining();

  void Read(void* buffer, int32_t count); // all or EReadError
  uint8_t ReadByte();

  // "TPF0", or EFilerError "Invalid stream format".
  void ReadSignature();
  // The next tag, consumed; EFilerError "Invalid property value" above 0x14.
  TValueType ReadValue();
  // The next tag without consuming it.
  TValueType NextValue();
  // True when the next tag is vaNull (not consumed).
  bool EndOfList() { return NextValue() == TValueType::vaNull; }
  void ReadListBegin(); // expects vaList
  void ReadListEnd();   // expects vaNull

  // An object record's head: the optional prefix (flags 0 when absent; the
  // child position only when flags has ffChildPos), class name, object name.
  void ReadPrefix(bool& hasPrefix, uint8_t& prefix, TValueType& childPosType, int32_t& childPos);

  // Typed values; each raises EFilerError "Invalid property value" on
  // another tag.
  int32_t ReadInteger();    // vaInt8, vaInt16, vaInt32
  int64_t ReadInt64();      // those and vaInt64
  std::string ReadString(); // vaString, vaLString, vaWString (to ANSI), vaUTF8String (to ANSI)
  std::u16string ReadWideString();    // the same tags, as UTF-16
  std::string ReadIdent();            // vaIdent, and vaFalse/vaTrue/vaNil by name
  bool ReadBoolean();                 // vaFalse, vaTrue
  std::vector<uint8_t> ReadBinary();  // vaBinary
  std::vector<std::string> ReadSet(); // vaSet
  // A short string: one length byte, then the bytes (names, set members).
  std::string ReadStr();
  // Skips one value of any tag, nested ones included.
  void SkipValue();
  // The levels open around the next value. The component reader counts its
  // objects and collections here too, so every reader of a stream refuses
  // the same nesting.
  int& Depth() { return FDepth; }

  // Lossless reads into the tree.
  TFormValue ReadFormValue();
  TFormObject ReadFormObject();
  std::vector<TFormProperty> ReadFormProperties(); // until and with the vaNull

private:
  // The payload of a value whose tag was just read.
  TFormValue ReadFormValueOf(TValueType type);
  // A 4-byte length, checked against what remains (times unitSize).
  int32_t ReadLength(int unitSize);
  std::string ReadBytesAsString(int32_t count);
  TStream& FStream;
  int64_t FEnd;
  int FDepth = 0;
};

class TBinaryFormWriter {
public:
  explicit TBinaryFormWriter(TStream& stream) : FStream(stream) {}

  TStream& Stream() { return FStream; }
  void Write(const void* buffer, int32_t count); // all or EWriteError
  void WriteByte(uint8_t b) { Write(&b, 1); }

  void WriteSignature();
  void WriteValue(TValueType type) { WriteByte(static_cast<uint8_t>(type)); }
  void WriteListBegin() { WriteValue(TValueType::vaList); }
  void WriteListEnd() { WriteValue(TValueType::vaNull); }
  // Prefix byte (when hasPrefix), child position, class name, object name.
  void WritePrefix(bool hasPrefix, uint8_t prefix, TValueType childPosType, int32_t childPos);

  void WriteInteger(int64_t value); // smallest of the integer tags
  void WriteInteger(int64_t value, TValueType type);
  void WriteString(const std::string& text); // vaString when it fits, else vaLString
  void WriteWideString(const std::u16string& text);
  void WriteUTF8String(const std::string& utf8);
  void WriteIdent(const std::string& name); // vaIdent; False/True/nil as their own tags
  void WriteBoolean(bool value);
  void WriteBinary(const void* data, int32_t count);
  // A binary value whose bytes a callback writes (a defined binary property).
  void WriteBinary(const std::function<void(TStream&)>& writeData);
  void WriteSet(const std::vector<std::string>& names);
  // One length byte and the bytes; EFilerError when longer than 255.
  void WriteStr(const std::string& text);

  void WriteFormValue(const TFormValue& value);
  void WriteFormObject(const TFormObject& object);
  void WriteFormProperties(const std::vector<TFormProperty>& properties); // and the vaNull

private:
  void WriteLength(size_t count);
  void WriteRaw(const void* data, size_t count);
  TStream& FStream;
  int FDepth = 0;
};

// Whole streams: signature and root object. Bytes after the root object are
// left unread; ReadForm tells how many bytes the form took.
TFormObject ReadForm(TStream& stream);
TFormObject ReadForm(const uint8_t* data, size_t size, size_t* used = nullptr);
TFormObject ReadForm(const std::vector<uint8_t>& bytes, size_t* used = nullptr);
void WriteForm(TStream& stream, const TFormObject& root);
std::vector<uint8_t> WriteForm(const TFormObject& root);

} // namespace rtl
