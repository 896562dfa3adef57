// The text notation: what it reads, that dump and compile round-trip any
// stream, and how it reports errors.
#include "FormSamples.h"
#include "rtl/FormBinary.h"
#include "rtl/FormText.h"
#include "rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

using namespace rtl;
using formsamples::Raw;
using formsamples::Text;

namespace {

namespace fs = std::filesystem;

struct TTempFolder {
  fs::path Path;
  TTempFolder() {
    Path = fs::temp_directory_path() / ("qlx_formtext_" + std::to_string(std::random_device{}()));
    fs::create_directories(Path);
  }
  ~TTempFolder() {
    std::error_code ec;
    fs::remove_all(Path, ec);
  }
};

void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary);
  f << bytes;
}

std::string ParseError(const std::string& text) {
  try {
    TextToForm(text);
  } catch (const EParserError& e) {
    return e.Message();
  }
  return "(parsed)";
}

// Text -> binary -> text -> binary: the same bytes and the same text.
void ExpectStableRoundTrip(const TFormObject& form) {
  const std::vector<uint8_t> bytes = WriteForm(form);
  const std::string text = FormToText(ReadForm(bytes));
  const TFormObject parsed = TextToForm(text);
  ASSERT_EQ(form, parsed) << text;
  ASSERT_EQ(bytes, WriteForm(parsed)) << text;
  ASSERT_EQ(text, FormToText(parsed));
}

const TFormValue& Value(const TFormObject& obj, const char* name) {
  const TFormProperty* p = obj.FindProperty(name);
  EXPECT_NE(nullptr, p) << name;
  static const TFormValue none;
  return p ? p->Value : none;
}

} // namespace

TEST(FormText, ReadsTheWizardFormShape) {
  TTempFolder dir;
  fs::create_directories(dir.Path / "payload");
  WriteFile(dir.Path / "payload" / "QLX_Tessel_3.dll", "MZ dll bytes");
  WriteFile(dir.Path / "Unit1.form", R"(object Form1: TForm1
  Caption = 'QLX Installer'
  ClientWidth = 434
  BorderIcons = []
  Font.Name = 'Tahoma'
  OnCreate = FormCreate
  object mxStorage1: TmxStorage
    Left = 208
    StoredItems = <
      item
        FileName = 'QLX_Tessel_3.dll'
        Compression = clMax
        Content = file 'payload/QLX_Tessel_3.dll'
      end>
  end
end
)");
  const TFormObject form = LoadFormText((dir.Path / "Unit1.form").string());
  EXPECT_EQ("TForm1", form.ClassName);
  EXPECT_EQ("Form1", form.Name);
  EXPECT_FALSE(form.HasPrefix);
  EXPECT_EQ(TFormValue::String("QLX Installer"), Value(form, "Caption"));
  EXPECT_EQ(TFormValue::Integer(434), Value(form, "clientwidth"));
  EXPECT_EQ(TFormValue::Set({}), Value(form, "BorderIcons"));
  EXPECT_EQ(TFormValue::Ident("FormCreate"), Value(form, "OnCreate"));
  ASSERT_EQ(1u, form.Children.size());
  const TFormObject& store = form.Children[0];
  EXPECT_EQ("TmxStorage", store.ClassName);
  const TFormValue& items = Value(store, "StoredItems");
  ASSERT_EQ(TValueType::vaCollection, items.Type);
  ASSERT_EQ(1u, items.Items.size());
  const TFormItem& item = items.Items[0];
  EXPECT_FALSE(item.HasOrder);
  ASSERT_EQ(3u, item.Properties.size());
  EXPECT_EQ(TFormValue::Ident("clMax"), item.Properties[1].Value);
  const TFormValue& content = item.Properties[2].Value;
  EXPECT_EQ("Content", item.Properties[2].Name);
  EXPECT_EQ(TValueType::vaBinary, content.Type);
  EXPECT_EQ(std::string("MZ dll bytes"), std::string(content.Bytes.begin(), content.Bytes.end()));
  EXPECT_TRUE(fs::equivalent(dir.Path / "payload" / "QLX_Tessel_3.dll", content.SourceFile));

  // Without loading, only the path travels.
  const TFormObject lazy = LoadFormText((dir.Path / "Unit1.form").string(), false);
  const TFormValue& lazyContent =
      Value(lazy.Children[0], "StoredItems").Items[0].Properties[2].Value;
  EXPECT_TRUE(lazyContent.Bytes.empty());
  EXPECT_EQ(content.SourceFile, lazyContent.SourceFile);
}

TEST(FormText, ValueSyntaxGivesTheTagsItNames) {
  const TFormObject form = TextToForm(R"(
    object TLabel // no object name
      A = 'It''s'#13#10 + 'x' +
          #$41
      B = -300  C = $FF  D = 5000000000
      E = i16(5) F = I32(-5) G = i64(1) H = i8(-7)
      I = 1.5 J = -2.5E-3 K = ext($3FFF8000000000000000)
      L = single(0.5) M = date(2.25) N = currency(-1.05) O = currency(7)
      P = long'abc' Q = w'A'#8364'b' + ' €' R = utf8'caf'#195#169 S = ident'True'
      T = true U = FALSE V = Nil W = [a, 'b c'] X = (1, 'a' (2)) Y = <> Z = {0a ff}
    end)");
  EXPECT_EQ("TLabel", form.ClassName);
  EXPECT_EQ("", form.Name);
  EXPECT_EQ(TFormValue::String("It's\r\nxA"), Value(form, "A"));
  EXPECT_EQ(TFormValue::Integer(-300), Value(form, "B"));
  EXPECT_EQ(TFormValue::Integer(255), Value(form, "C"));
  EXPECT_EQ(TFormValue::Integer(5000000000, TValueType::vaInt64), Value(form, "D"));
  EXPECT_EQ(TFormValue::Integer(5, TValueType::vaInt16), Value(form, "E"));
  EXPECT_EQ(TFormValue::Integer(-5, TValueType::vaInt32), Value(form, "F"));
  EXPECT_EQ(TFormValue::Integer(1, TValueType::vaInt64), Value(form, "G"));
  EXPECT_EQ(TFormValue::Integer(-7), Value(form, "H"));
  EXPECT_EQ(1.5L, Value(form, "I").AsExtended());
  EXPECT_EQ(-2.5E-3L, Value(form, "J").AsExtended());
  EXPECT_EQ(1.0L, Value(form, "K").AsExtended());
  EXPECT_EQ(0.5f, Value(form, "L").AsSingle());
  EXPECT_EQ(2.25, Value(form, "M").AsDate());
  EXPECT_EQ(TValueType::vaCurrency, Value(form, "N").Type);
  EXPECT_EQ(-10500, Value(form, "N").Int);
  EXPECT_EQ(70000, Value(form, "O").Int);
  EXPECT_EQ(Text(TValueType::vaLString, "abc"), Value(form, "P"));
  EXPECT_EQ(TFormValue::WideString(u"A\u20ACb \u20AC"), Value(form, "Q"));
  EXPECT_EQ(Text(TValueType::vaUTF8String, "caf\xC3\xA9"), Value(form, "R"));
  EXPECT_EQ(TFormValue::Ident("True"), Value(form, "S"));
  EXPECT_EQ(TFormValue::Boolean(true), Value(form, "T"));
  EXPECT_EQ(TFormValue::Boolean(false), Value(form, "U"));
  EXPECT_EQ(TValueType::vaNil, Value(form, "V").Type);
  EXPECT_EQ(TFormValue::Set({"a", "b c"}), Value(form, "W"));
  ASSERT_EQ(3u, Value(form, "X").List.size()); // commas optional
  EXPECT_EQ(TFormValue::String("a"), Value(form, "X").List[1]);
  EXPECT_EQ(TValueType::vaList, Value(form, "X").List[2].Type);
  EXPECT_EQ(TValueType::vaCollection, Value(form, "Y").Type);
  EXPECT_EQ(TFormValue::Binary({0x0A, 0xFF}), Value(form, "Z"));
  EXPECT_EQ(TFormValue::String(std::string(256, 'q')).Type,
            TextToForm("object T P = '" + std::string(256, 'q') + "' end")
                .Properties[0]
                .Value.Type); // long text picks vaLString by itself
}

TEST(FormText, ObjectHeadsSayEveryPrefix) {
  const TFormObject form = TextToForm(R"(
    inherited Form1: TForm1
      inline Frame1: TFrame1 [i16(2)] end
      object Panel1: TPanel [4] end
      object $F8 'odd name': 'T X' end
      object $F7 X: T [9] end
    end)");
  EXPECT_TRUE(form.HasPrefix);
  EXPECT_EQ(0xF1, form.Prefix);
  ASSERT_EQ(4u, form.Children.size());
  EXPECT_EQ(0xF6, form.Children[0].Prefix);
  EXPECT_EQ(TValueType::vaInt16, form.Children[0].ChildPosType);
  EXPECT_EQ(2, form.Children[0].ChildPos);
  EXPECT_EQ(0xF2, form.Children[1].Prefix);
  EXPECT_EQ(4, form.Children[1].ChildPos);
  EXPECT_EQ(0xF8, form.Children[2].Prefix);
  EXPECT_EQ("odd name", form.Children[2].Name);
  EXPECT_EQ("T X", form.Children[2].ClassName);
  EXPECT_EQ(9, form.Children[3].ChildPos);

  for (int prefix = 0xEF; prefix <= 0xFF; ++prefix) {
    TFormObject obj;
    obj.ClassName = "TX";
    obj.HasPrefix = prefix >= 0xF0;
    obj.Prefix = obj.HasPrefix ? static_cast<uint8_t>(prefix) : 0xF0;
    if (obj.Flags() & ffChildPos)
      obj.ChildPos = -prefix;
    obj.ChildPosType = SmallestIntType(obj.ChildPos);
    SCOPED_TRACE(prefix);
    ExpectStableRoundTrip(obj);
  }
}

// A plain string with a code beyond a byte is a wide string, as forms are
// commonly written; codes up to 255 keep it a byte string.
TEST(FormText, PlainStringWithWideCodeIsWide) {
  const TFormObject form = TextToForm("object A: T\n"
                                      "  X = 'Wide '#1046#8364\n"
                                      "  Y = 'a' +\n    #300\n"
                                      "  Z = 'b'#255\n"
                                      "end");
  const auto& x = Value(form, "X");
  EXPECT_EQ(TFormValue::WideString(u"Wide \u0416\u20AC"), x);
  EXPECT_EQ(TFormValue::WideString(u"a\u012C"), Value(form, "Y"));
  EXPECT_EQ(TFormValue::String("b\xFF"), Value(form, "Z"));
  const std::vector<uint8_t> bytes = WriteForm(form);
  const std::vector<uint8_t> tagged = {0x12, 7,   0, 0,   0, 'W',  0,    'i',  0,   'd',
                                       0,    'e', 0, ' ', 0, 0x16, 0x04, 0xAC, 0x20};
  EXPECT_NE(bytes.end(), std::search(bytes.begin(), bytes.end(), tagged.begin(), tagged.end()));
  ExpectStableRoundTrip(form);
}

TEST(FormText, DumpAndCompileRoundTripEveryTag) {
  ExpectStableRoundTrip(formsamples::AllTagsForm());
  const std::string text = FormToText(formsamples::AllTagsForm());
  for (const char* shown :
       {"Wide16 = i16(5)", "Wide32 = i32(-5)", "Ext = 1.0", "LStr = long'",
        "Int64 = i64(1099511627776)", "Cur = currency(-12.3456)", "Single = single(1.0)",
        "Date = date(1.0)", "Utf8 = utf8'caf'#195#169", "Wide = w'A'#8364#55357#56832",
        "Str = 'It''s '#13#10", "inherited Button1: TButton [3]", "object TLabel"})
    EXPECT_NE(std::string::npos, text.find(shown)) << shown << "\n" << text;
}

// The streamed text of a binary form, in pieces, is the tree's text.
std::string StreamedText(const std::vector<uint8_t>& bytes) {
  rtl::TReadOnlyMemoryStream in(bytes.data(), bytes.size());
  std::string text;
  FormStreamToText(in, [&](const std::string& piece) { text += piece; });
  EXPECT_EQ(static_cast<int64_t>(bytes.size()), in.Position());
  return text;
}

TEST(FormText, RandomFormsRoundTrip) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE(seed);
    const TFormObject form = formsamples::TRandomForm(seed).Object(3);
    ExpectStableRoundTrip(form);
    ASSERT_EQ(FormToText(form), StreamedText(WriteForm(form)));
  }
}

// As deep as the reader goes, the text is written, streamed and read back;
// one level more fails in every direction.
TEST(FormText, DeepestFormRoundTrips) {
  auto nested = [](int lists) {
    TFormValue v = TFormValue::Boolean(true);
    for (int i = 0; i < lists; ++i) {
      TFormValue outer = TFormValue::Of(TValueType::vaList);
      outer.List.push_back(std::move(v));
      v = std::move(outer);
    }
    TFormObject form;
    form.ClassName = "TForm1";
    form.Properties.push_back({"Deep", std::move(v)});
    return form;
  };
  const TFormObject deepest = nested(MaxFormNesting - 1);
  const std::vector<uint8_t> bytes = WriteForm(deepest);
  EXPECT_EQ(deepest, ReadForm(bytes));
  EXPECT_EQ(FormToText(deepest), StreamedText(bytes));
  ExpectStableRoundTrip(deepest);

  // Two lists around the innermost value instead of none: one level too deep.
  std::vector<uint8_t> deeper = WriteForm(nested(MaxFormNesting - 2));
  const auto at = std::find(deeper.begin(), deeper.end(), uint8_t{0x09});
  deeper.insert(deeper.erase(at), {0x01, 0x01, 0x09, 0x00, 0x00});
  EXPECT_THROW(ReadForm(deeper), rtl::EFilerError);
  EXPECT_THROW(StreamedText(deeper), rtl::EFilerError);
}

TEST(FormText, OddFloatsRoundTripExactly) {
  std::vector<std::vector<uint8_t>> extended = {
      {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80},                            // -0
      {1, 0, 0, 0, 0, 0, 0, 0, 0, 0},                               // smallest denormal
      {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F},                      // infinity
      {1, 2, 3, 0, 0, 0, 0, 0xC0, 0xFF, 0xFF},                      // NaN with payload
      {0, 0, 0, 0, 0, 0, 0, 0x40, 0xFF, 0x3F},                      // unnormal: no integer bit
      {0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0},                            // pseudo-denormal
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x7F}, // largest
  };
  uint8_t third[10];
  LongDoubleToExtended(1.0L / 3, third);
  extended.emplace_back(third, third + 10);
  TFormObject obj;
  obj.ClassName = "T";
  for (const auto& bits : extended)
    obj.Properties.push_back({"E", Raw(TValueType::vaExtended, bits)});
  obj.Properties.push_back({"S", Raw(TValueType::vaSingle, {1, 0, 0xC0, 0xFF})}); // NaN
  obj.Properties.push_back({"S", Raw(TValueType::vaSingle, {0, 0, 0, 0x80})});    // -0
  obj.Properties.push_back({"D", Raw(TValueType::vaDate, {0, 0, 0, 0, 0, 0, 0xF0, 0x7F})});
  obj.Properties.push_back({"D", Raw(TValueType::vaDate, {1, 0, 0, 0, 0, 0, 0, 0})});
  for (int64_t c : {std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                    int64_t{-1}, int64_t{0}}) {
    TFormValue cur = TFormValue::Of(TValueType::vaCurrency);
    cur.Int = c;
    obj.Properties.push_back({"C", cur});
  }
  ExpectStableRoundTrip(obj);
  const std::string text = FormToText(obj);
  EXPECT_NE(std::string::npos, text.find("currency(-922337203685477.5808)")) << text;
  EXPECT_NE(std::string::npos, text.find("E = -0.0")) << text;
  EXPECT_NE(std::string::npos, text.find("ext($7FFF8000000000000000)")) << text;
}

TEST(FormText, NamesAndIdentifiersThatCollideWithKeywordsAreQuoted) {
  TFormObject obj;
  obj.ClassName = "end";
  obj.Name = "object";
  for (const char* name : {"end", "object", "inherited", "inline", "item", "x y", "1st"})
    obj.Properties.push_back({name, TFormValue::Ident(name)});
  for (const char* id : {"True", "false", "NIL", "file", "i16", "w", "", "a b"})
    obj.Properties.push_back({"P", TFormValue::Ident(id)});
  TFormValue list = TFormValue::Of(TValueType::vaList);
  list.List = {TFormValue::Ident("ext"), TFormValue::Of(TValueType::vaList), TFormValue::Ident("w"),
               TFormValue::String("s")};
  obj.Properties.push_back({"L", list});
  ExpectStableRoundTrip(obj);
}

TEST(FormText, ErrorsNameTheLine) {
  EXPECT_EQ("Line 3: Unterminated string", ParseError("object A: T\n  X = 1\n  Y = 'abc\nend"));
  EXPECT_EQ("Line 2: '=' expected but '5' found", ParseError("object A: T\n  X 5\nend"));
  EXPECT_EQ("Line 4: 'end' expected but end of text found", ParseError("object A: T\n\n\n"));
  EXPECT_EQ("Line 1: 'object' expected but 'thing' found", ParseError("thing A: T end"));
  EXPECT_EQ("Line 1: End of text expected but 'object' found",
            ParseError("object A: T end object B: T end"));
  EXPECT_EQ("Line 2: 40000 does not fit i16", ParseError("object A: T\n X = i16(40000) end"));
  EXPECT_EQ("Line 1: Character code #300 out of range", ParseError("object A: T X = long#300 end"));
  EXPECT_EQ("Line 1: Character code #70000 out of range",
            ParseError("object A: T X = 'a'#70000 end"));
  EXPECT_EQ("Line 1: Character code #70000 out of range",
            ParseError("object A: T X = w#70000 end"));
  EXPECT_EQ("Line 1: Wide string text is not valid UTF-8",
            ParseError("object A: T X = w'\xE9' end"));
  EXPECT_EQ("Line 1: Odd number of hex digits in binary data",
            ParseError("object A: T X = {ABC} end"));
  EXPECT_EQ("Line 2: Invalid character 'G' in binary data",
            ParseError("object A: T X = {\nAG} end"));
  EXPECT_EQ("Line 1: Integer out of range: 9223372036854775808",
            ParseError("object A: T X = 9223372036854775808 end"));
  EXPECT_EQ("Line 1: Currency has at most four decimals: 1.23456",
            ParseError("object A: T X = currency(1.23456) end"));
  EXPECT_EQ("Line 1: Child position '[n]' expected", ParseError("object $F2 A: T end"));
  EXPECT_EQ("Line 1: Object prefix must be $F0 to $FF", ParseError("object $E0 A: T end"));
  EXPECT_EQ("Line 1: Empty set member", ParseError("object A: T X = [a, ''] end"));
  EXPECT_EQ("Line 1: Value expected but ')' found", ParseError("object A: T X = ) end"));
  EXPECT_EQ("Line 1: 'item' expected but 'x' found", ParseError("object A: T X = <x> end"));
  EXPECT_NE(
      std::string::npos,
      ParseError("object A: T\n\n X = file 'no/such.bin' end").find("Line 3: Cannot open file"));
  std::string deep = "object A: T X = ";
  deep += std::string(MaxFormNesting + 1, '(') + std::string(MaxFormNesting + 1, ')') + " end";
  EXPECT_EQ("Line 1: Form nesting too deep", ParseError(deep));
}
