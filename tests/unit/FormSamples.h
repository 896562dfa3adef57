// Form trees shared by the form stream tests: one that uses every tag, and
// random ones from a seed.
#pragma once

#include "rtl/FormTree.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace formsamples {

using rtl::TFormItem;
using rtl::TFormObject;
using rtl::TFormProperty;
using rtl::TFormValue;
using rtl::TValueType;

inline TFormValue Raw(TValueType type, std::vector<uint8_t> bytes) {
  TFormValue v = TFormValue::Of(type);
  v.Bytes = std::move(bytes);
  return v;
}

inline TFormValue Text(TValueType type, std::string text) {
  TFormValue v = TFormValue::Of(type);
  v.Str = std::move(text);
  return v;
}

// One property per tag, nested values included, on an object with a prefix
// and a child with another.
inline TFormObject AllTagsForm() {
  TFormObject root;
  root.ClassName = "TForm1";
  root.Name = "Form1";
  auto add = [&](const char* name, TFormValue v) {
    root.Properties.push_back({name, std::move(v)});
  };
  TFormValue list = TFormValue::Of(TValueType::vaList);
  list.List = {TFormValue::Integer(1), TFormValue::String("a"), TFormValue::Of(TValueType::vaList)};
  add("List", list);
  add("Int8", TFormValue::Integer(-1));
  add("Int16", TFormValue::Integer(-300));
  add("Int32", TFormValue::Integer(100000));
  add("Wide16", TFormValue::Integer(5, TValueType::vaInt16));
  add("Wide32", TFormValue::Integer(-5, TValueType::vaInt32));
  add("Ext", Raw(TValueType::vaExtended, {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}));
  add("Str", TFormValue::String("It's \r\n"));
  add("Ident", TFormValue::Ident("clMax"));
  add("No", TFormValue::Boolean(false));
  add("Yes", TFormValue::Boolean(true));
  add("Bin", TFormValue::Binary({0, 1, 0xFE, 0xFF}));
  add("Set", TFormValue::Set({"akLeft", "akTop"}));
  add("LStr", Text(TValueType::vaLString, "short but long"));
  add("LongText", TFormValue::String(std::string(300, 'x')));
  add("Nil", TFormValue::Of(TValueType::vaNil));
  TFormValue coll = TFormValue::Of(TValueType::vaCollection);
  TFormItem first;
  first.HasOrder = true;
  first.OrderType = TValueType::vaInt16;
  first.Order = 2;
  first.Properties = {{"Name", TFormValue::String("mxStoredItem1")},
                      {"StoredItem", TFormValue::Binary({1, 0, 0, 0, 0x42})}};
  coll.Items = {first, TFormItem{}};
  add("Items", coll);
  add("Single", Raw(TValueType::vaSingle, {0, 0, 0x80, 0x3F}));
  TFormValue cur = TFormValue::Of(TValueType::vaCurrency);
  cur.Int = -123456;
  add("Cur", cur);
  add("Date", Raw(TValueType::vaDate, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  add("Wide", TFormValue::WideString(u"A\u20AC\U0001F600"));
  add("Int64", TFormValue::Integer(int64_t{1} << 40));
  add("Utf8", Text(TValueType::vaUTF8String, "caf\xC3\xA9"));

  TFormObject child;
  child.HasPrefix = true;
  child.Prefix = 0xF3; // inherited, child position
  child.ChildPosType = TValueType::vaInt8;
  child.ChildPos = 3;
  child.ClassName = "TButton";
  child.Name = "Button1";
  child.Properties = {{"Font.Name", TFormValue::String("Tahoma")}};
  TFormObject grandChild;
  grandChild.ClassName = "TLabel";
  child.Children.push_back(grandChild);
  root.Children.push_back(child);
  return root;
}

// A random but valid tree: every tag, odd names and bytes, fixed seed.
class TRandomForm {
public:
  explicit TRandomForm(uint32_t seed) : FGen(seed) {}

  TFormObject Object(int depth) {
    TFormObject obj;
    obj.HasPrefix = Chance(3);
    if (obj.HasPrefix) {
      obj.Prefix = static_cast<uint8_t>(0xF0 | Below(16));
      if (obj.Prefix & rtl::ffChildPos) {
        obj.ChildPosType = static_cast<TValueType>(2 + Below(3));
        obj.ChildPos = static_cast<int32_t>(IntFor(obj.ChildPosType));
      }
    }
    obj.ClassName = Name(obj.HasPrefix ? 0 : 1, obj.HasPrefix ? 255 : 239);
    obj.Name = Name(0, 20);
    obj.Properties = Properties(depth);
    if (depth > 0)
      for (int i = Below(3); i > 0; --i)
        obj.Children.push_back(Object(depth - 1));
    return obj;
  }

private:
  int Below(int n) { return static_cast<int>(FGen() % static_cast<uint32_t>(n)); }
  bool Chance(int oneIn) { return Below(oneIn) == 0; }

  std::string Bytes(size_t maxLen) {
    std::string s(static_cast<size_t>(Below(static_cast<int>(maxLen) + 1)), '\0');
    for (char& c : s)
      c = static_cast<char>(Chance(2) ? 'a' + Below(26) : Below(256));
    return s;
  }

  std::string Name(size_t minLen, size_t maxLen) {
    if (Chance(2)) { // a plain name
      std::string s = "P" + std::to_string(FGen() % 1000);
      return Chance(4) ? s + ".Sub" : s;
    }
    std::string s;
    do
      s = Bytes(maxLen);
    while (s.size() < minLen);
    return s;
  }

  int64_t IntFor(TValueType type) {
    const int64_t raw = static_cast<int64_t>((uint64_t{FGen()} << 32) | FGen());
    switch (type) {
    case TValueType::vaInt8:
      return static_cast<int8_t>(raw);
    case TValueType::vaInt16:
      return static_cast<int16_t>(raw);
    case TValueType::vaInt32:
      return static_cast<int32_t>(raw);
    default:
      return raw;
    }
  }

  std::vector<TFormProperty> Properties(int depth) {
    std::vector<TFormProperty> props;
    for (int i = Below(5); i > 0; --i)
      props.push_back({Name(1, 255), Value(depth)});
    return props;
  }

  TFormValue Value(int depth) {
    auto type = static_cast<TValueType>(1 + Below(rtl::MaxValueTag));
    if (depth <= 0 && (type == TValueType::vaList || type == TValueType::vaCollection))
      type = TValueType::vaNil;
    TFormValue v = TFormValue::Of(type);
    switch (type) {
    case TValueType::vaList:
      for (int i = Below(4); i > 0; --i)
        v.List.push_back(Value(depth - 1));
      break;
    case TValueType::vaInt8:
    case TValueType::vaInt16:
    case TValueType::vaInt32:
    case TValueType::vaInt64:
      v.Int = IntFor(type);
      break;
    case TValueType::vaCurrency:
      v.Int = IntFor(TValueType::vaInt64);
      break;
    case TValueType::vaExtended:
    case TValueType::vaSingle:
    case TValueType::vaDate: {
      const size_t n = type == TValueType::vaExtended ? 10 : type == TValueType::vaSingle ? 4 : 8;
      for (size_t i = 0; i < n; ++i)
        v.Bytes.push_back(static_cast<uint8_t>(Below(256)));
      if (Chance(2)) // mostly ordinary numbers, sometimes any bits
        v = Ordinary(type);
      break;
    }
    case TValueType::vaString:
    case TValueType::vaIdent:
      v.Str = Chance(2) ? "clRed" : Bytes(255);
      break;
    case TValueType::vaLString:
    case TValueType::vaUTF8String:
      v.Str = Bytes(Chance(4) ? 600 : 40);
      break;
    case TValueType::vaBinary:
      v.Bytes.resize(static_cast<size_t>(Below(80)));
      for (auto& b : v.Bytes)
        b = static_cast<uint8_t>(Below(256));
      break;
    case TValueType::vaSet:
      for (int i = Below(4); i > 0; --i)
        v.Names.push_back(Name(1, 30));
      break;
    case TValueType::vaCollection:
      for (int i = Below(3); i > 0; --i) {
        TFormItem item;
        item.HasOrder = Chance(2);
        if (item.HasOrder) {
          item.OrderType = static_cast<TValueType>(2 + Below(3));
          item.Order = static_cast<int32_t>(IntFor(item.OrderType));
        }
        item.Properties = Properties(depth - 1);
        v.Items.push_back(std::move(item));
      }
      break;
    case TValueType::vaWString:
      for (int i = Below(20); i > 0; --i)
        v.Wide += static_cast<char16_t>(Chance(2) ? 'a' + Below(26) : Below(0x10000));
      break;
    default:
      break;
    }
    return v;
  }

  TFormValue Ordinary(TValueType type) {
    const double x = (static_cast<double>(FGen()) - 2e9) / static_cast<double>(1 + Below(1000));
    TFormValue v = TFormValue::Of(type);
    if (type == TValueType::vaExtended) {
      v.Bytes.resize(10);
      rtl::LongDoubleToExtended(static_cast<long double>(x) / 3, v.Bytes.data());
    } else if (type == TValueType::vaSingle) {
      const float f = static_cast<float>(x);
      v.Bytes.resize(4);
      std::memcpy(v.Bytes.data(), &f, 4);
    } else {
      v.Bytes.resize(8);
      std::memcpy(v.Bytes.data(), &x, 8);
    }
    return v;
  }

  std::mt19937 FGen;
};

} // namespace formsamples
