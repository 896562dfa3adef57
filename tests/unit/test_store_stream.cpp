// The store written into and read from form streams: the record layout is
// decoded here byte by byte, apart from the reader that loads it.
#include "mx/mxStorage.h"
#include "rtl/Filer.h"
#include "rtl/FormBinary.h"
#include <algorithm>

// Last of the project headers: it brings in windows.h and its macros.
#include "DecimalSeparator.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <random>

using namespace mx;
using rtl::TCompressionLevel;
using rtl::TMemoryStream;

namespace {

// A form that owns a store, as the wizard does.
class TTestForm : public rtl::TComponent {
public:
  using rtl::TComponent::TComponent;
  const char* ClassName() const override { return "TTestForm"; }
};

void RegisterTestClasses() {
  RegisterStorageClasses();
  if (!rtl::FindClassInfo("TTestForm"))
    rtl::TClassBuilder<TTestForm>("TTestForm", "TComponent").Creatable().Register();
}

std::vector<uint8_t> Content(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(size);
  for (auto& b : v)
    b = static_cast<uint8_t>("abcdefgh"[gen() % 8]);
  return v;
}

// A store holding what the test gives it, with names set as the form reader
// would set them.
struct TFixture {
  TTestForm Form{nullptr};
  TmxStorage* Store;

  TFixture() {
    RegisterTestClasses();
    Form.SetName("Form1");
    Store = new TmxStorage(&Form);
    Store->SetName("mxStorage1");
    Store->SetDesignLeft(208);
    Store->SetDesignTop(184);
  }

  TmxStoredItem* Add(const std::string& fileName, const std::vector<uint8_t>& content,
                     TCompressionLevel level = TCompressionLevel::clDefault) {
    auto* item = static_cast<TmxStoredItem*>(Store->StoredItems()->Add());
    item->SetCompression(level);
    TMemoryStream src;
    if (!content.empty())
      src.WriteBuffer(content.data(), static_cast<int32_t>(content.size()));
    item->LoadFromStream(&src);
    Store->BeginLoading(); // file names are taken only while loading
    item->SetFileName(fileName);
    Store->EndLoading();
    return item;
  }

  std::vector<uint8_t> Write() {
    TMemoryStream out;
    rtl::TWriter writer(out);
    writer.WriteRootComponent(&Form);
    return out.Bytes();
  }
};

// Reads a stream into a new form; returns the store it holds.
std::unique_ptr<TTestForm> Load(const std::vector<uint8_t>& bytes) {
  RegisterTestClasses();
  auto form = std::make_unique<TTestForm>(nullptr);
  rtl::TReadOnlyMemoryStream in(bytes.data(), bytes.size());
  rtl::TReader reader(in);
  reader.ReadRootComponent(form.get());
  return form;
}

TmxStorage* StoreOf(TTestForm& form) {
  return dynamic_cast<TmxStorage*>(form.FindComponent("mxStorage1"));
}

// A cursor over the bytes, with the few encodings the layout uses.
struct TCursor {
  const std::vector<uint8_t>& B;
  size_t P = 0;

  uint8_t Byte() {
    EXPECT_LT(P, B.size());
    return P < B.size() ? B[P++] : 0;
  }
  int32_t Int32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v |= static_cast<uint32_t>(Byte()) << (8 * i);
    return static_cast<int32_t>(v);
  }
  std::string Short() {
    const uint8_t n = Byte();
    std::string s(B.begin() + static_cast<long>(P), B.begin() + static_cast<long>(P + n));
    P += n;
    return s;
  }
  // An integer value in its smallest tag.
  int32_t Integer() {
    const uint8_t tag = Byte();
    if (tag == 0x02)
      return static_cast<int8_t>(Byte());
    if (tag == 0x03) {
      const uint8_t lo = Byte();
      return static_cast<int16_t>(lo | Byte() << 8);
    }
    EXPECT_EQ(0x04, tag);
    return Int32();
  }
  int32_t SmallestInteger() {
    const size_t at = P;
    const int32_t v = Integer();
    const uint8_t expected = v >= -128 && v <= 127 ? 0x02 : v >= -32768 && v <= 32767 ? 0x03 : 0x04;
    EXPECT_EQ(expected, B[at]) << "integer " << v << " not in its smallest tag";
    return v;
  }
  std::string String() {
    EXPECT_EQ(0x06, Byte());
    return Short();
  }
  void Property(const char* name) { EXPECT_EQ(name, Short()); }
};

} // namespace

// "%.2f%%" of part / whole * 100 with a comma, worked out apart from the store.
std::string CommaRatio(int32_t part, int32_t whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f%%", static_cast<double>(part) * 100.0 / whole);
  std::string s = text;
  std::replace(s.begin(), s.end(), '.', ',');
  return s;
}

TEST(StoreStream, LayoutIsTheStoreRecordByteForByte) {
  TDecimalSeparator comma(',');
  TFixture f;
  const auto content = Content(70000, 1);
  auto* a = f.Add("QLX_Tessel_3.dll", content, TCompressionLevel::clMax);
  f.Add("empty.txt", {});
  auto* c = f.Add("sqlite3.dll", Content(300, 2));
  const auto bytes = f.Write();

  TCursor k{bytes};
  EXPECT_EQ("TPF0", std::string(bytes.begin(), bytes.begin() + 4));
  k.P = 4;
  EXPECT_EQ("TTestForm", k.Short());
  EXPECT_EQ("Form1", k.Short());
  EXPECT_EQ(0, k.Byte()); // no properties
  EXPECT_EQ("TmxStorage", k.Short());
  EXPECT_EQ("mxStorage1", k.Short());
  k.Property("OriginalSize");
  EXPECT_EQ(70300, k.SmallestInteger());
  k.Property("Ratio");
  const std::string storeRatio = k.String();
  k.Property("Size");
  const int32_t storeSize = k.SmallestInteger();
  EXPECT_EQ(a->Size() + c->Size(), storeSize);
  EXPECT_EQ(CommaRatio(storeSize, 70300), storeRatio);
  k.Property("StoredItems");
  EXPECT_EQ(0x0E, k.Byte());

  // Item 1: clMax carries its Compression identifier before Tag.
  EXPECT_EQ(0x01, k.Byte());
  k.Property("Compression");
  EXPECT_EQ(0x07, k.Byte());
  EXPECT_EQ("clMax", k.Short());
  k.Property("Tag");
  EXPECT_EQ(0, k.SmallestInteger());
  k.Property("Name");
  EXPECT_EQ("mxStoredItem1", k.String());
  k.Property("FileName");
  EXPECT_EQ("QLX_Tessel_3.dll", k.String());
  k.Property("FileSize");
  EXPECT_EQ(70000, k.SmallestInteger());
  k.Property("Size");
  const int32_t itemSize = k.SmallestInteger();
  EXPECT_EQ(a->Size(), itemSize);
  k.Property("Ratio");
  EXPECT_EQ(CommaRatio(itemSize, 70000), k.String());
  k.Property("StoredItem");
  EXPECT_EQ(0x0A, k.Byte());
  const int32_t b = k.Int32();
  const int32_t n = k.Int32();
  EXPECT_EQ(a->Size(), n);
  EXPECT_EQ(n + 4, b);
  EXPECT_EQ(0x78, bytes[k.P]);
  EXPECT_EQ(0xDA, bytes[k.P + 1]); // zlib's header for level 9
  std::vector<uint8_t> plain(70004 + 16);
  uLongf len = static_cast<uLongf>(plain.size());
  ASSERT_EQ(Z_OK, uncompress(plain.data(), &len, bytes.data() + k.P, static_cast<uLong>(n)));
  EXPECT_EQ(70004u, len);
  EXPECT_TRUE(std::equal(content.begin(), content.end(), plain.begin() + 4));
  k.P += static_cast<size_t>(n);
  EXPECT_EQ(0x00, k.Byte());

  // Item 2: empty, so no StoredItem; clDefault, so no Compression.
  EXPECT_EQ(0x01, k.Byte());
  k.Property("Tag");
  k.SmallestInteger();
  k.Property("Name");
  EXPECT_EQ("mxStoredItem2", k.String());
  k.Property("FileName");
  EXPECT_EQ("empty.txt", k.String());
  k.Property("FileSize");
  EXPECT_EQ(0, k.SmallestInteger());
  k.Property("Size");
  EXPECT_EQ(0, k.SmallestInteger());
  k.Property("Ratio");
  EXPECT_EQ("100%", k.String());
  EXPECT_EQ(0x00, k.Byte());

  // Item 3 begins with Tag as well; skip to its end through the record length.
  EXPECT_EQ(0x01, k.Byte());
  k.Property("Tag");
  k.SmallestInteger();
  k.Property("Name");
  k.String();
  k.Property("FileName");
  k.String();
  k.Property("FileSize");
  k.SmallestInteger();
  k.Property("Size");
  k.SmallestInteger();
  k.Property("Ratio");
  k.String();
  k.Property("StoredItem");
  EXPECT_EQ(0x0A, k.Byte());
  k.P += static_cast<size_t>(k.Int32());
  EXPECT_EQ(0x00, k.Byte());
  EXPECT_EQ(0x00, k.Byte()); // end of the collection

  k.Property("Version");
  EXPECT_EQ("1.1", k.String());
  k.Property("Left");
  EXPECT_EQ(208, k.SmallestInteger());
  k.Property("Top");
  EXPECT_EQ(184, k.SmallestInteger());
  EXPECT_EQ(0x00, k.Byte()); // end of the store's properties
  EXPECT_EQ(0x00, k.Byte()); // the store has no children
  EXPECT_EQ(0x00, k.Byte()); // end of the form's children
  EXPECT_EQ(bytes.size(), k.P);
}

TEST(StoreStream, ReadBackGivesTheSameItemsAndComputedSizes) {
  TFixture f;
  const auto content = Content(123456, 3);
  f.Add("QLX_Tessel_3.dll", content, TCompressionLevel::clMax);
  f.Add("empty.txt", {});
  f.Add("plain.bin", Content(999, 4), TCompressionLevel::clNone);
  f.Store->GetStoredItem(0)->SetTag(-7);
  const auto bytes = f.Write();

  auto form = Load(bytes);
  TmxStorage* store = StoreOf(*form);
  ASSERT_NE(nullptr, store);
  EXPECT_FALSE(store->IsLoading());
  ASSERT_EQ(3, store->StoredItems()->Count());
  for (int i = 0; i < 3; ++i) {
    auto* s = f.Store->GetStoredItem(i);
    auto* d = store->GetStoredItem(i);
    EXPECT_EQ(s->Name(), d->Name());
    EXPECT_EQ(s->FileName(), d->FileName());
    EXPECT_EQ(s->FileSize(), d->FileSize());
    EXPECT_EQ(s->Compression(), d->Compression());
    EXPECT_EQ(s->Tag(), d->Tag());
    EXPECT_EQ(s->Data().Bytes(), d->Data().Bytes()); // not re-encoded
  }
  EXPECT_EQ(208, store->DesignLeft());
  EXPECT_EQ(184, store->DesignTop());
  TMemoryStream out;
  store->GetStoredItem(0)->SaveToStream(&out);
  EXPECT_EQ(content, out.Bytes());

  // Written again, the stream is the same.
  TMemoryStream again;
  rtl::TWriter writer(again);
  writer.WriteRootComponent(form.get());
  EXPECT_EQ(bytes, again.Bytes());
}

// Items made at run time have no file name: the store still reads what it wrote.
TEST(StoreStream, StoreBuiltAtRunTimeReadsBack) {
  TFixture f;
  for (uint32_t seed : {7u, 8u}) {
    auto* item = static_cast<TmxStoredItem*>(f.Store->StoredItems()->Add());
    TMemoryStream src;
    const auto content = Content(3000, seed);
    src.WriteBuffer(content.data(), static_cast<int32_t>(content.size()));
    item->LoadFromStream(&src);
  }
  const auto bytes = f.Write();
  auto form = Load(bytes);
  TmxStorage* store = StoreOf(*form);
  ASSERT_EQ(2, store->StoredItems()->Count());
  EXPECT_EQ("", store->GetStoredItem(1)->FileName());
  EXPECT_EQ(3000, store->GetStoredItem(1)->FileSize());
  TMemoryStream again;
  rtl::TWriter writer(again);
  writer.WriteRootComponent(form.get());
  EXPECT_EQ(bytes, again.Bytes());
}

// Data read from memory that outlives the store (the program's own resource)
// is used where it lies; from any other memory it is copied, as that memory
// may go away or change once the form is read.
TEST(StoreStream, ItemDataStaysInPersistentMemoryOnly) {
  TFixture f;
  const auto content = Content(40000, 5);
  f.Add("QLX_Tessel_3.dll", content, TCompressionLevel::clMax);
  f.Add("plain.bin", Content(999, 6), TCompressionLevel::clNone);
  auto bytes = f.Write();

  auto read = [&](bool persistent) {
    RegisterTestClasses();
    auto form = std::make_unique<TTestForm>(nullptr);
    rtl::TReadOnlyMemoryStream in(bytes.data(), bytes.size(), persistent);
    rtl::TReader reader(in);
    reader.ReadRootComponent(form.get());
    return form;
  };
  auto extracted = [](TmxStoredItem* item) {
    TMemoryStream out;
    item->SaveToStream(&out);
    return out.Bytes();
  };
  // Overwrites the stored bytes of the first item in the source memory.
  auto spoil = [&] {
    const auto stored = f.Store->GetStoredItem(0)->Data().Bytes();
    auto at = std::search(bytes.begin(), bytes.end(), stored.begin(), stored.end());
    ASSERT_NE(bytes.end(), at);
    std::fill(at, at + static_cast<long>(stored.size()), uint8_t{0});
  };

  auto copied = read(false);
  auto inPlace = read(true);
  TmxStorage* c = StoreOf(*copied);
  TmxStorage* p = StoreOf(*inPlace);
  ASSERT_TRUE(c && p);
  EXPECT_EQ(content, extracted(p->GetStoredItem(0)));
  EXPECT_EQ(f.Store->GetStoredItem(0)->Size(), p->GetStoredItem(0)->Size());

  // Written again, the in-place store gives the same stream.
  TMemoryStream again;
  rtl::TWriter writer(again);
  writer.WriteRootComponent(inPlace.get());
  EXPECT_EQ(bytes, again.Bytes());

  // An assigned item shares the memory; Data() gives the caller a copy of its own.
  auto* copy = static_cast<TmxStoredItem*>(p->StoredItems()->Add());
  copy->Assign(p->GetStoredItem(0));
  auto* owned = static_cast<TmxStoredItem*>(p->StoredItems()->Add());
  owned->Assign(p->GetStoredItem(0));
  owned->Data();

  const auto stored = f.Store->GetStoredItem(0)->Data().Bytes();
  const std::vector<uint8_t> zeros(stored.size(), 0);
  spoil();
  EXPECT_EQ(stored, c->GetStoredItem(0)->Data().Bytes()) << "copied data must not change";
  EXPECT_EQ(content, extracted(owned)) << "Data() must have made a copy";
  EXPECT_EQ(zeros, copy->Data().Bytes()) << "an assigned item shares the memory";
  EXPECT_EQ(zeros, p->GetStoredItem(0)->Data().Bytes()) << "in-place data must not be copied";
}

// Edits one property value of the store's record through the tree.
std::vector<uint8_t> Edited(const std::vector<uint8_t>& bytes,
                            const std::function<void(rtl::TFormObject&)>& edit) {
  rtl::TFormObject root = rtl::ReadForm(bytes);
  edit(root.Children.at(0));
  return rtl::WriteForm(root);
}

rtl::TFormValue& Prop(std::vector<rtl::TFormProperty>& props, const std::string& name) {
  for (auto& p : props)
    if (p.Name == name)
      return p.Value;
  throw std::runtime_error("no property " + name);
}

TEST(StoreStream, StoredSizesAndRatiosAreDropped) {
  TDecimalSeparator comma(',');
  TFixture f;
  auto* plain = f.Add("a.dll", Content(5000, 5), TCompressionLevel::clNone);
  f.Store->BeginLoading(); // bare content carries no size of its own
  plain->SetFileSize(5000);
  f.Store->EndLoading();
  const auto bytes = Edited(f.Write(), [](rtl::TFormObject& store) {
    Prop(store.Properties, "OriginalSize") = rtl::TFormValue::Integer(1);
    Prop(store.Properties, "Size") = rtl::TFormValue::Integer(100000);
    Prop(store.Properties, "Ratio") = rtl::TFormValue::String("5%");
    Prop(store.Properties, "Version") = rtl::TFormValue::String("9.9");
    auto& item = Prop(store.Properties, "StoredItems").Items.at(0).Properties;
    Prop(item, "Size") = rtl::TFormValue::Integer(-3);
    Prop(item, "Ratio") = rtl::TFormValue::String("x");
  });
  auto form = Load(bytes);
  TmxStorage* store = StoreOf(*form);
  EXPECT_EQ(5000, store->OriginalSize());
  EXPECT_EQ(5000, store->Size());
  EXPECT_EQ("100,00%", store->Ratio());
  EXPECT_EQ("1.1", store->Version());
  EXPECT_EQ(5000, store->GetStoredItem(0)->Size());
  EXPECT_EQ("100,00%", store->GetStoredItem(0)->Ratio());
}

TEST(StoreStream, BadRecordsFailWithTheirProperty) {
  TFixture f;
  f.Add("a.dll", Content(5000, 6));
  f.Add("b.dll", Content(50, 7));
  const auto good = f.Write();

  auto message = [](const std::vector<uint8_t>& bytes) -> std::string {
    try {
      Load(bytes);
    } catch (const rtl::Exception& e) {
      return e.Message();
    }
    return "(loaded)";
  };
  auto itemEdit = [&](int index, const std::function<void(std::vector<rtl::TFormProperty>&)>& e) {
    return Edited(good, [&](rtl::TFormObject& store) {
      e(Prop(store.Properties, "StoredItems").Items.at(static_cast<size_t>(index)).Properties);
    });
  };
  auto record = [](int32_t n, size_t actual) {
    std::vector<uint8_t> r(4 + actual, 0x11);
    std::memcpy(r.data(), &n, 4);
    return rtl::TFormValue::Binary(r);
  };

  EXPECT_EQ("Error reading TmxStoredItem.StoredItem: Stream read error",
            message(itemEdit(0, [&](auto& p) { Prop(p, "StoredItem") = record(100, 99); })));
  EXPECT_EQ("Error reading TmxStoredItem.StoredItem: Stream read error",
            message(itemEdit(0, [&](auto& p) { Prop(p, "StoredItem") = record(-5, 10); })));
  EXPECT_EQ("Error reading TmxStoredItem.StoredItem: Stream read error",
            message(itemEdit(0, [&](auto& p) { Prop(p, "StoredItem") = record(0, 0); })));
  EXPECT_EQ(
      "Error reading TmxStoredItem.StoredItem: Invalid property value",
      message(itemEdit(0, [&](auto& p) { Prop(p, "StoredItem") = rtl::TFormValue::String("x"); })));
  EXPECT_EQ("Error reading TmxStoredItem.Name: Duplicated stored item name",
            message(itemEdit(
                1, [&](auto& p) { Prop(p, "Name") = rtl::TFormValue::String("MXSTOREDITEM1"); })));
  // Names that leave the folder or that Windows cannot create.
  const std::vector<std::string> refused = {
      "..",        ".",        "..\\evil.dll", "sub/evil.dll", "C:evil.dll", std::string("a\0b", 3),
      "a<b",       "a>b",      "a\"b",         "a|b",          "a?b",        "a*b",
      "tab\there", "name.",    "name ",        "CON",          "nul.txt",    "com1",
      "Lpt9.dll",  "AUX .txt", "prn.tar.gz"};
  for (const std::string& bad : refused) {
    SCOPED_TRACE(bad);
    const std::string m =
        message(itemEdit(0, [&](auto& p) { Prop(p, "FileName") = rtl::TFormValue::String(bad); }));
    EXPECT_EQ(0u, m.find("Error reading TmxStoredItem.FileName: Invalid stored file name")) << m;
  }
  for (const char* name : {"", "CONSOLE.txt", "com10", "LPT0", "nul_.dll", ".profile"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ("(loaded)", message(itemEdit(0, [&](auto& p) {
                Prop(p, "FileName") = rtl::TFormValue::String(name);
              })));
  }
  EXPECT_FALSE(IsPlainFileName("")) << "loaded, but nothing to write it as";
  EXPECT_TRUE(IsPlainFileName(".profile"));
  EXPECT_EQ(
      "Error reading mxStorage1.Bogus: Property Bogus does not exist",
      message(Edited(good, [](rtl::TFormObject& store) {
        store.Properties.insert(store.Properties.begin(), {"Bogus", rtl::TFormValue::Integer(1)});
      })));
  EXPECT_EQ("Class TNoSuchThing not found", message(Edited(good, [](rtl::TFormObject& store) {
              store.ClassName = "TNoSuchThing";
            })));
  EXPECT_EQ("Error reading mxStorage1.StoredItems: Too many collection items",
            message(Edited(good, [](rtl::TFormObject& store) {
              Prop(store.Properties, "StoredItems").Items.resize(rtl::MaxStreamedItems + 1);
            })));

  // Truncated anywhere, the stream fails cleanly.
  for (size_t cut = 0; cut < good.size(); cut += 97)
    EXPECT_NE("(loaded)", message(std::vector<uint8_t>(good.begin(), good.begin() + cut)));
}

TEST(StoreStream, EventsBindByHandlerName) {
  TFixture f;
  auto* item = f.Add("a.dll", Content(10, 8));
  item->OnAfterSave.HandlerName = "ItemSaved";
  f.Store->OnAfterExtract.HandlerName = "Extracted";
  const auto bytes = f.Write();

  // Written by name, in the order of the item's events, before Compression.
  rtl::TFormObject root = rtl::ReadForm(bytes);
  auto& itemProps = Prop(root.Children.at(0).Properties, "StoredItems").Items.at(0).Properties;
  EXPECT_EQ("OnAfterSave", itemProps.at(0).Name);
  EXPECT_EQ("ItemSaved", itemProps.at(0).Value.Str);

  rtl::TMethodTable methods;
  int saved = 0;
  methods.Add<void(rtl::TObject*)>("itemsaved", [&](rtl::TObject*) { ++saved; });
  methods.Add<void(rtl::TObject*, const std::string&, const std::string&)>(
      "Extracted", [](rtl::TObject*, const std::string&, const std::string&) {});
  RegisterTestClasses();
  TTestForm form(nullptr);
  rtl::TReadOnlyMemoryStream in(bytes.data(), bytes.size());
  rtl::TReader reader(in);
  reader.SetMethods(&methods);
  reader.ReadRootComponent(&form);
  TMemoryStream out;
  StoreOf(form)->GetStoredItem(0)->SaveToStream(&out);
  EXPECT_EQ(1, saved);

  rtl::TMethodTable none;
  TTestForm other(nullptr);
  rtl::TReadOnlyMemoryStream in2(bytes.data(), bytes.size());
  rtl::TReader reader2(in2);
  reader2.SetMethods(&none);
  try {
    reader2.ReadRootComponent(&other);
    FAIL();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ("Error reading TmxStoredItem.OnAfterSave: Method ItemSaved not found", e.Message());
  }
}
