// The binary form stream against byte layouts built by hand, and against
// hostile input.
#include "FormSamples.h"
#include "rtl/FormBinary.h"
#include "rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>

using namespace rtl;
using formsamples::Raw;
using formsamples::Text;

namespace {

using Bytes = std::vector<uint8_t>;

// Appends a short string: length byte and characters.
void Str(Bytes& b, const std::string& s) {
  b.push_back(static_cast<uint8_t>(s.size()));
  b.insert(b.end(), s.begin(), s.end());
}

void Append(Bytes& b, std::initializer_list<int> values) {
  for (int v : values)
    b.push_back(static_cast<uint8_t>(v));
}

// "TPF0", object "T" without name holding one property "P" of the given
// encoded value.
Bytes OnePropertyStream(const Bytes& value) {
  Bytes b = {'T', 'P', 'F', '0'};
  Str(b, "T");
  Str(b, "");
  Str(b, "P");
  b.insert(b.end(), value.begin(), value.end());
  Append(b, {0, 0});
  return b;
}

TFormObject OnePropertyForm(TFormValue v) {
  TFormObject obj;
  obj.ClassName = "T";
  obj.Properties.push_back({"P", std::move(v)});
  return obj;
}

template <typename E, typename F> std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return "(no exception)";
}

} // namespace

TEST(FormBinary, SmallObjectRecordMatchesHandBuiltBytes) {
  Bytes expected = {'T', 'P', 'F', '0'};
  Str(expected, "TLabel");
  Str(expected, "Label1");
  Str(expected, "Left");
  Append(expected, {0x02, 8});
  Str(expected, "Width");
  Append(expected, {0x03, 0x2C, 0x01});
  Str(expected, "Tag");
  Append(expected, {0x04, 0xA0, 0x86, 0x01, 0x00});
  Str(expected, "Caption");
  Append(expected, {0x06, 2, 'H', 'i'});
  Str(expected, "Font.Style");
  Append(expected, {0x0B, 6, 'f', 's', 'B', 'o', 'l', 'd', 0});
  Append(expected, {0x00, 0x00});

  TFormObject label;
  label.ClassName = "TLabel";
  label.Name = "Label1";
  label.Properties = {{"Left", TFormValue::Integer(8)},
                      {"Width", TFormValue::Integer(300)},
                      {"Tag", TFormValue::Integer(100000)},
                      {"Caption", TFormValue::String("Hi")},
                      {"Font.Style", TFormValue::Set({"fsBold"})}};
  EXPECT_EQ(expected, WriteForm(label));
  EXPECT_EQ(label, ReadForm(expected));
}

TEST(FormBinary, EveryTagHasItsLayout) {
  TFormValue list = TFormValue::Of(TValueType::vaList);
  list.List = {TFormValue::Integer(1), TFormValue::String("a")};
  TFormValue coll = TFormValue::Of(TValueType::vaCollection);
  TFormItem ordered;
  ordered.HasOrder = true;
  ordered.Order = 2;
  ordered.Properties = {{"A", TFormValue::Integer(1)}};
  coll.Items = {ordered, TFormItem{}};
  TFormValue cur = TFormValue::Of(TValueType::vaCurrency);
  cur.Int = 15000;

  const std::vector<std::pair<TFormValue, Bytes>> cases = {
      {list, {0x01, 0x02, 1, 0x06, 1, 'a', 0x00}},
      {TFormValue::Integer(-1), {0x02, 0xFF}},
      {TFormValue::Integer(-300), {0x03, 0xD4, 0xFE}},
      {TFormValue::Integer(100000), {0x04, 0xA0, 0x86, 0x01, 0x00}},
      {Raw(TValueType::vaExtended, {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}),
       {0x05, 0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}},
      {TFormValue::String("ab"), {0x06, 2, 'a', 'b'}},
      {TFormValue::Ident("clMax"), {0x07, 5, 'c', 'l', 'M', 'a', 'x'}},
      {TFormValue::Boolean(false), {0x08}},
      {TFormValue::Boolean(true), {0x09}},
      {TFormValue::Binary({1, 2}), {0x0A, 2, 0, 0, 0, 1, 2}},
      {TFormValue::Set({"a", "bc"}), {0x0B, 1, 'a', 2, 'b', 'c', 0}},
      {Text(TValueType::vaLString, "xyz"), {0x0C, 3, 0, 0, 0, 'x', 'y', 'z'}},
      {TFormValue::Of(TValueType::vaNil), {0x0D}},
      {coll, {0x0E, 0x02, 2, 0x01, 1, 'A', 0x02, 1, 0x00, 0x01, 0x00, 0x00}},
      {Raw(TValueType::vaSingle, {0, 0, 0x80, 0x3F}), {0x0F, 0, 0, 0x80, 0x3F}},
      {cur, {0x10, 0x98, 0x3A, 0, 0, 0, 0, 0, 0}},
      {Raw(TValueType::vaDate, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}),
       {0x11, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {TFormValue::WideString(u"A\u20AC"), {0x12, 2, 0, 0, 0, 0x41, 0, 0xAC, 0x20}},
      {TFormValue::Integer(int64_t{1} << 40), {0x13, 0, 0, 0, 0, 0, 1, 0, 0}},
      {Text(TValueType::vaUTF8String, "\xC3\xA9"), {0x14, 2, 0, 0, 0, 0xC3, 0xA9}},
  };
  for (const auto& [value, encoded] : cases) {
    SCOPED_TRACE(ValueTypeName(value.Type));
    const Bytes stream = OnePropertyStream(encoded);
    EXPECT_EQ(stream, WriteForm(OnePropertyForm(value)));
    EXPECT_EQ(OnePropertyForm(value), ReadForm(stream));
  }
}

TEST(FormBinary, FloatsAndCurrencyReadAsNumbers) {
  const TFormObject obj = ReadForm(WriteForm(formsamples::AllTagsForm()));
  EXPECT_EQ(1.0L, obj.FindProperty("Ext")->Value.AsExtended());
  EXPECT_EQ(1.0f, obj.FindProperty("single")->Value.AsSingle());
  EXPECT_EQ(1.0, obj.FindProperty("DATE")->Value.AsDate());
  EXPECT_EQ(-123456, obj.FindProperty("Cur")->Value.Int);
  uint8_t ext[10];
  ASSERT_TRUE(LongDoubleToExtended(-0.1L, ext));
  EXPECT_EQ(-0.1L, ExtendedToLongDouble(ext));
  ASSERT_TRUE(LongDoubleToExtended(1e-4940L, ext)); // denormal
  EXPECT_EQ(0, ext[9] & 0x7F);
  EXPECT_EQ(0, ext[8]);
  EXPECT_EQ(1e-4940L, ExtendedToLongDouble(ext));
}

TEST(FormBinary, AllTagsFormSurvivesReadAndWrite) {
  const TFormObject form = formsamples::AllTagsForm();
  const Bytes bytes = WriteForm(form);
  size_t used = 0;
  EXPECT_EQ(form, ReadForm(bytes, &used));
  EXPECT_EQ(bytes.size(), used);
  EXPECT_EQ(bytes, WriteForm(ReadForm(bytes)));
  // The child's prefix: inherited with child position 3 as an 8-bit integer.
  const Bytes head = {0xF3, 0x02, 3, 7, 'T', 'B', 'u', 't', 't', 'o', 'n'};
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), head.begin(), head.end()), bytes.end());
}

TEST(FormBinary, RandomFormsSurviveReadAndWrite) {
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE(seed);
    const TFormObject form = formsamples::TRandomForm(seed).Object(3);
    const Bytes bytes = WriteForm(form);
    ASSERT_EQ(form, ReadForm(bytes));
  }
}

TEST(FormBinary, WriterPicksTheSmallestTags) {
  const std::vector<std::pair<int64_t, TValueType>> cases = {
      {-128, TValueType::vaInt8},
      {127, TValueType::vaInt8},
      {128, TValueType::vaInt16},
      {-129, TValueType::vaInt16},
      {32767, TValueType::vaInt16},
      {-32768, TValueType::vaInt16},
      {32768, TValueType::vaInt32},
      {-32769, TValueType::vaInt32},
      {INT32_MAX, TValueType::vaInt32},
      {INT32_MIN, TValueType::vaInt32},
      {int64_t{INT32_MAX} + 1, TValueType::vaInt64}};
  for (const auto& [value, type] : cases) {
    TMemoryStream s;
    TBinaryFormWriter(s).WriteInteger(value);
    ASSERT_GT(s.Size(), 0);
    EXPECT_EQ(static_cast<uint8_t>(type), s.Bytes()[0]) << value;
    s.SetPosition(0);
    EXPECT_EQ(value, TBinaryFormReader(s).ReadInt64());
  }
  TMemoryStream s;
  TBinaryFormWriter w(s);
  w.WriteString(std::string(255, 'a'));
  w.WriteString(std::string(256, 'b'));
  EXPECT_EQ(0x06, s.Bytes()[0]);
  EXPECT_EQ(255, s.Bytes()[1]);
  EXPECT_EQ(0x0C, s.Bytes()[257]);
  s.SetPosition(0);
  TBinaryFormReader r(s);
  EXPECT_EQ(std::string(255, 'a'), r.ReadString());
  EXPECT_EQ(std::string(256, 'b'), r.ReadString());
}

TEST(FormBinary, ReaderAcceptsEveryIntegerAndStringTag) {
  Bytes b;
  Append(b, {0x04, 5, 0, 0, 0});                         // 5 as 32 bits
  Append(b, {0x03, 0xFF, 0xFF});                         // -1 as 16 bits
  Append(b, {0x12, 2, 0, 0, 0, 0xAC, 0x20, 0x00, 0x4E}); // wide: euro sign, CJK
  Append(b, {0x14, 2, 0, 0, 0, 0xC3, 0xA9});             // UTF-8 e acute
  Append(b, {0x0C, 1, 0, 0, 0, 'z'});
  Append(b, {0x09, 0x0D, 0x07, 1, 'x'});
  TReadOnlyMemoryStream s(b.data(), b.size());
  TBinaryFormReader r(s);
  EXPECT_EQ(TValueType::vaInt32, r.NextValue());
  EXPECT_EQ(TValueType::vaInt32, r.NextValue()); // peeking consumes nothing
  EXPECT_EQ(5, r.ReadInteger());
  EXPECT_EQ(-1, r.ReadInteger());
  EXPECT_EQ("\x80?", r.ReadString()); // Windows-1252 has the euro sign only
  EXPECT_EQ("\xE9", r.ReadString());
  EXPECT_EQ("z", r.ReadString());
  EXPECT_EQ("True", r.ReadIdent());
  EXPECT_EQ("nil", r.ReadIdent());
  EXPECT_EQ("x", r.ReadIdent());
  EXPECT_EQ(0, r.Remaining());
}

TEST(FormBinary, ReaderRejectsTheWrongTag) {
  const Bytes b = {0x06, 1, 'a', 0x02, 1};
  TReadOnlyMemoryStream s(b.data(), b.size());
  TBinaryFormReader r(s);
  EXPECT_EQ(SInvalidPropertyValue, MessageOf<EFilerError>([&] { r.ReadInteger(); }));
  s.SetPosition(3);
  EXPECT_EQ(SInvalidPropertyValue, MessageOf<EFilerError>([&] { r.ReadString(); }));
  s.SetPosition(3);
  EXPECT_EQ(SInvalidPropertyValue, MessageOf<EFilerError>([&] { r.ReadBinary(); }));
}

TEST(FormBinary, DefinedBinaryPropertyIsWrittenThroughCallback) {
  TMemoryStream s;
  TBinaryFormWriter(s).WriteBinary([](TStream& out) {
    const uint8_t data[] = {1, 0, 0, 0, 0x42};
    out.WriteBuffer(data, 5);
  });
  EXPECT_EQ((Bytes{0x0A, 5, 0, 0, 0, 1, 0, 0, 0, 0x42}), s.Bytes());
}

TEST(FormBinary, BadSignatureTagsAndEndMarkersAreFilerErrors) {
  Bytes noSig = WriteForm(formsamples::AllTagsForm());
  noSig[3] = '1';
  EXPECT_EQ(SInvalidStreamFormat, MessageOf<EFilerError>([&] { ReadForm(noSig); }));
  EXPECT_EQ(SInvalidPropertyValue,
            MessageOf<EFilerError>([&] { ReadForm(OnePropertyStream({0x15})); }));
  EXPECT_EQ(SInvalidPropertyValue,
            MessageOf<EFilerError>([&] { ReadForm(OnePropertyStream({0xFF})); }));
  // vaNull where a value belongs.
  Bytes endAsValue = {'T', 'P', 'F', '0', 1, 'T', 0, 1, 'P', 0x00, 0x00, 0x00};
  EXPECT_EQ(SInvalidPropertyValue, MessageOf<EFilerError>([&] { ReadForm(endAsValue); }));
  // A collection item that does not open with vaList.
  EXPECT_EQ(SInvalidPropertyValue, MessageOf<EFilerError>([&] {
              ReadForm(OnePropertyStream({0x0E, 0x06, 0, 0}));
            }));
  // A child position that is not an integer.
  Bytes badPos = {'T', 'P', 'F', '0', 0xF2, 0x06, 0, 1, 'T', 0, 0, 0};
  EXPECT_EQ(SInvalidPropertyValue, MessageOf<EFilerError>([&] { ReadForm(badPos); }));
}

TEST(FormBinary, EveryTruncationRaisesAStreamError) {
  const Bytes bytes = WriteForm(formsamples::AllTagsForm());
  for (size_t n = 0; n < bytes.size(); ++n) {
    try {
      ReadForm(bytes.data(), n);
      ADD_FAILURE() << "truncation at " << n << " was read";
    } catch (const EReadError& e) {
      EXPECT_EQ(SReadError, e.Message());
    } catch (const EFilerError&) {
      // A cut inside the signature reads as a wrong signature.
      EXPECT_LT(n, 4u);
    }
  }
}

TEST(FormBinary, BogusLengthsAreNotAllocated) {
  const std::vector<Bytes> values = {
      {0x0A, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2},    // binary of 2 GB
      {0x0A, 0x00, 0x00, 0x00, 0x80},          // negative length
      {0x0C, 0xFF, 0xFF, 0xFF, 0x7F, 'a'},     // long string
      {0x14, 0x00, 0x00, 0x00, 0x40, 'a'},     // UTF-8 string
      {0x12, 0x00, 0x00, 0x00, 0x40, 'a', 0},  // 2^30 wide units: 2^31 bytes
      {0x12, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 0},  // count * 2 beyond 32 bits
      {0x12, 3, 0, 0, 0, 'a', 0, 'b', 0, 'c'}, // odd byte short
  };
  const auto start = std::chrono::steady_clock::now();
  for (const auto& v : values)
    EXPECT_EQ(SReadError, MessageOf<EReadError>([&] { ReadForm(OnePropertyStream(v)); }));
  // Refused up front, not after touching gigabytes.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(FormBinary, NestingIsBounded) {
  auto nestedLists = [](int depth) {
    Bytes v(static_cast<size_t>(depth), 0x01);
    v.insert(v.end(), static_cast<size_t>(depth), 0x00);
    return OnePropertyStream(v);
  };
  EXPECT_NO_THROW(ReadForm(nestedLists(200)));
  EXPECT_EQ(SFormNestingTooDeep, MessageOf<EFilerError>([&] { ReadForm(nestedLists(100000)); }));

  auto nestedObjects = [](int depth) {
    Bytes b = {'T', 'P', 'F', '0'};
    for (int i = 0; i < depth; ++i)
      Append(b, {1, 'T', 0, 0});
    b.insert(b.end(), static_cast<size_t>(depth), 0x00);
    return b;
  };
  EXPECT_NO_THROW(ReadForm(nestedObjects(MaxFormNesting)));
  EXPECT_EQ(SFormNestingTooDeep,
            MessageOf<EFilerError>([&] { ReadForm(nestedObjects(MaxFormNesting + 1)); }));

  TFormObject deep;
  deep.ClassName = "T";
  for (int i = 0; i < MaxFormNesting; ++i) {
    TFormObject outer;
    outer.ClassName = "T";
    outer.Children.push_back(std::move(deep));
    deep = std::move(outer);
  }
  EXPECT_EQ(SFormNestingTooDeep, MessageOf<EFilerError>([&] { WriteForm(deep); }));
}

TEST(FormBinary, WriterRefusesTreesThatWouldReadBackDifferently) {
  auto fails = [](const TFormObject& obj) { EXPECT_THROW(WriteForm(obj), EFilerError); };
  TFormObject obj;
  obj.ClassName = "T";
  obj.Properties.push_back({"", TFormValue::Integer(1)}); // would end the list
  fails(obj);
  obj.Properties = {{std::string(256, 'n'), TFormValue::Integer(1)}};
  fails(obj);
  obj.Properties = {{"P", TFormValue::Set({"a", ""})}};
  fails(obj);
  obj.Properties = {{"P", TFormValue::Integer(300, TValueType::vaInt8)}};
  fails(obj);
  obj.Properties = {{"P", Raw(TValueType::vaExtended, {1, 2})}};
  fails(obj);
  obj.Properties.clear();
  obj.ClassName = ""; // no prefix: would read as the end of the children
  fails(obj);
  obj.ClassName = std::string(0xF0, 'C'); // its length would read as a prefix
  fails(obj);
  obj.HasPrefix = true; // with a prefix both are fine
  EXPECT_EQ(obj, ReadForm(WriteForm(obj)));
}

TEST(FormBinary, MutatedStreamsFailCleanly) {
  const Bytes original = WriteForm(formsamples::AllTagsForm());
  std::mt19937 gen(7);
  int read = 0;
  for (int i = 0; i < 3000; ++i) {
    Bytes b = original;
    for (int k = 1 + static_cast<int>(gen() % 4); k > 0; --k)
      b[4 + gen() % (b.size() - 4)] = static_cast<uint8_t>(gen());
    try {
      const TFormObject obj = ReadForm(b);
      ++read;
    } catch (const EStreamError&) {
    }
  }
  EXPECT_GT(read, 0); // some mutations only change content
}
