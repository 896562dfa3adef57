// The payload store against zlib's own decoder and the file system.
#include "mx/mxStorage.h"
#include "rtl/SysUtils.h"

// Last of the project headers: it brings in windows.h and its macros.
#include "DecimalSeparator.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace mx;
using rtl::TCompressionLevel;
using rtl::TMemoryStream;

namespace {

std::vector<uint8_t> Content(size_t size, uint32_t seed, bool compressible = true) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i)
    v[i] = compressible ? static_cast<uint8_t>("QLX Tessel shell extension "[gen() % 27])
                        : static_cast<uint8_t>(gen());
  return v;
}

void Fill(TMemoryStream& s, const std::vector<uint8_t>& bytes) {
  s.Clear();
  if (!bytes.empty())
    s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

std::vector<uint8_t> Bytes(TMemoryStream& s) {
  return s.Bytes();
}

// The stored form must be exactly one zlib stream of prefix + content.
std::vector<uint8_t> ZlibUncompress(const std::vector<uint8_t>& data, size_t expected) {
  std::vector<uint8_t> out(expected + 16);
  uLongf outLen = static_cast<uLongf>(out.size());
  EXPECT_EQ(Z_OK, uncompress(out.data(), &outLen, data.data(), static_cast<uLong>(data.size())));
  out.resize(outLen);
  return out;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary);
  f << text;
}

struct TempDir {
  std::filesystem::path Path;
  TempDir() {
    // Every test case runs as a process of its own, several at a time; gtest's
    // seed comes from the clock and two of them could share it.
    static int n = 0;
    Path = std::filesystem::temp_directory_path() /
           ("qlx-store-" + std::to_string(std::random_device{}()) + "-" + std::to_string(++n));
    std::filesystem::remove_all(Path);
    std::filesystem::create_directories(Path);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
  std::string File(const std::string& name) const { return (Path / name).string(); }
};

// Runs the body with the store's loading state set, as the form reader does.
template <typename F> void WhileLoading(TmxStorage& store, F body) {
  store.BeginLoading();
  body();
  store.EndLoading();
}

} // namespace

TEST(StoredItem, RoundTripsAtEveryLevelThroughZlib) {
  for (auto level : {TCompressionLevel::clNone, TCompressionLevel::clFastest,
                     TCompressionLevel::clDefault, TCompressionLevel::clMax}) {
    for (size_t size : {size_t(1), size_t(4096), size_t(200000), size_t(700001)}) {
      SCOPED_TRACE(testing::Message() << "level " << int(level) << " size " << size);
      TmxStorage store(nullptr);
      auto* item = static_cast<TmxStoredItem*>(store.StoredItems()->Add());
      item->SetCompression(level);
      const auto content = Content(size, static_cast<uint32_t>(size), size % 2 == 0);
      TMemoryStream src;
      Fill(src, content);
      src.SetPosition(size / 2); // the load starts from position 0 whatever the position
      item->LoadFromStream(&src);

      if (level == TCompressionLevel::clNone) {
        EXPECT_EQ(content, Bytes(item->Data()));
      } else {
        EXPECT_EQ(size, static_cast<size_t>(item->FileSize()));
        const auto& data = Bytes(item->Data());
        const auto plain = ZlibUncompress(data, size + 4);
        ASSERT_EQ(size + 4, plain.size());
        EXPECT_EQ(int32_t(size),
                  int32_t(plain[0] | plain[1] << 8 | plain[2] << 16 | plain[3] << 24));
        EXPECT_TRUE(std::equal(content.begin(), content.end(), plain.begin() + 4));
        EXPECT_EQ(item->Size(), int32_t(data.size()));
      }
      TMemoryStream out;
      out.WriteBuffer("xy", 2); // written at the destination's position
      item->SaveToStream(&out);
      auto outBytes = Bytes(out);
      ASSERT_EQ(size + 2, outBytes.size());
      EXPECT_TRUE(std::equal(content.begin(), content.end(), outBytes.begin() + 2));
    }
  }
}

TEST(StoredItem, ZlibLevelsMatchTheNamedOnes) {
  const auto content = Content(50000, 7);
  for (auto [level, zlevel] :
       std::vector<std::pair<TCompressionLevel, int>>{{TCompressionLevel::clFastest, 1},
                                                      {TCompressionLevel::clDefault, 6},
                                                      {TCompressionLevel::clMax, 9}}) {
    TmxStorage store(nullptr);
    auto* item = static_cast<TmxStoredItem*>(store.StoredItems()->Add());
    item->SetCompression(level);
    TMemoryStream src;
    Fill(src, content);
    item->LoadFromStream(&src);

    std::vector<uint8_t> plain(4 + content.size());
    plain[0] = 50000 & 0xFF;
    plain[1] = 50000 >> 8;
    std::copy(content.begin(), content.end(), plain.begin() + 4);
    std::vector<uint8_t> expected(compressBound(static_cast<uLong>(plain.size())));
    uLongf n = static_cast<uLongf>(expected.size());
    ASSERT_EQ(Z_OK, compress2(expected.data(), &n, plain.data(), static_cast<uLong>(plain.size()),
                              zlevel));
    expected.resize(n);
    EXPECT_EQ(expected, Bytes(item->Data())) << "level " << zlevel;
  }
}

TEST(StoredItem, EmptySourceLeavesItemEmptyAndFiresNothing) {
  TmxStorage store(nullptr);
  auto* item = static_cast<TmxStoredItem*>(store.StoredItems()->Add());
  int events = 0;
  item->OnBeforeLoad.Handler = [&](rtl::TObject*, rtl::TStream*) { ++events; };
  item->OnAfterLoad.Handler = [&](rtl::TObject*) { ++events; };
  TMemoryStream empty;
  item->LoadFromStream(&empty);
  item->LoadFromStream(nullptr);
  EXPECT_EQ(0, events);
  EXPECT_EQ(0, item->Size());
  EXPECT_EQ("100%", item->Ratio());
  TMemoryStream out;
  item->SaveToStream(&out);
  EXPECT_EQ(0, out.Size());
}

TEST(StoredItem, EventsFireInOrderWithTheirStreams) {
  TmxStorage store(nullptr);
  auto* item = static_cast<TmxStoredItem*>(store.StoredItems()->Add());
  std::vector<std::string> seen;
  TMemoryStream src, dst;
  Fill(src, Content(10, 1));
  item->OnBeforeLoad.Handler = [&](rtl::TObject* s, rtl::TStream* st) {
    EXPECT_EQ(item, s);
    EXPECT_EQ(&src, st);
    seen.push_back("beforeLoad");
  };
  item->OnAfterLoad.Handler = [&](rtl::TObject*) { seen.push_back("afterLoad"); };
  item->OnBeforeSave.Handler = [&](rtl::TObject*, rtl::TStream* st) {
    EXPECT_EQ(&dst, st);
    seen.push_back("beforeSave");
  };
  item->OnAfterSave.Handler = [&](rtl::TObject*) { seen.push_back("afterSave"); };
  item->LoadFromStream(&src);
  item->SaveToStream(&dst);
  item->SaveToStream(nullptr);
  EXPECT_EQ((std::vector<std::string>{"beforeLoad", "afterLoad", "beforeSave", "afterSave"}), seen);

  bool destroyed = false;
  item->OnDestroy.Handler = [&](rtl::TObject*) {
    destroyed = true;
    EXPECT_EQ(0, store.StoredItems()->Count()); // it has left the collection first
  };
  delete item;
  EXPECT_TRUE(destroyed);
}

TEST(StoredItem, CompressionSwitchReencodesAndRoundTrips) {
  TmxStorage store(nullptr);
  auto* item = static_cast<TmxStoredItem*>(store.StoredItems()->Add());
  const auto content = Content(123457, 3);
  TMemoryStream src;
  Fill(src, content);
  item->LoadFromStream(&src);
  const auto compressed = Bytes(item->Data());

  item->SetCompression(TCompressionLevel::clNone);
  EXPECT_EQ(content, Bytes(item->Data()));
  EXPECT_EQ(item->FileSize(), item->Size());
  {
    TDecimalSeparator comma(',');
    EXPECT_EQ("100,00%", item->Ratio());
  }

  item->SetCompression(TCompressionLevel::clDefault);
  EXPECT_EQ(compressed, Bytes(item->Data()));
  item->SetCompression(TCompressionLevel::clMax);
  TMemoryStream out;
  item->SaveToStream(&out);
  EXPECT_EQ(content, Bytes(out));

  // An empty item only changes its setting.
  auto* empty = static_cast<TmxStoredItem*>(store.StoredItems()->Add());
  empty->SetCompression(TCompressionLevel::clNone);
  EXPECT_EQ(TCompressionLevel::clNone, empty->Compression());
  EXPECT_EQ(0, empty->Size());
}

TEST(StoredItem, WritesOfFileNameAndSizeCountOnlyWhileLoading) {
  TmxStorage store(nullptr);
  auto* item = static_cast<TmxStoredItem*>(store.StoredItems()->Add());
  item->SetFileName("a.dll");
  item->SetFileSize(5);
  EXPECT_EQ("", item->FileName());
  EXPECT_EQ(0, item->FileSize());
  TMemoryStream src;
  Fill(src, Content(100, 9));
  item->LoadFromStream(&src);
  const auto data = Bytes(item->Data());
  WhileLoading(store, [&] {
    item->SetFileName("QLX_Tessel_3.dll");
    item->SetFileSize(42);
    item->SetCompression(TCompressionLevel::clNone); // taken as it comes, not re-encoded
  });
  EXPECT_EQ("QLX_Tessel_3.dll", item->FileName());
  EXPECT_EQ(42, item->FileSize());
  EXPECT_EQ(data, Bytes(item->Data()));
  item->SetFileName("other.dll");
  item->SetFileSize(1);
  EXPECT_EQ("QLX_Tessel_3.dll", item->FileName());
  EXPECT_EQ(42, item->FileSize());
}

TEST(StoredItem, ComputedPropertiesIgnoreWrites) {
  TmxStorage store(nullptr);
  auto* item = static_cast<TmxStoredItem*>(store.StoredItems()->Add());
  item->SetCompression(TCompressionLevel::clNone);
  TMemoryStream src;
  Fill(src, Content(1000, 5));
  item->LoadFromStream(&src);
  WhileLoading(store, [&] { item->SetFileSize(1000); }); // bare content has no size of its own
  TDecimalSeparator comma(',');
  item->SetSize(1);
  item->SetRatio("1%");
  store.SetSize(1);
  store.SetOriginalSize(1);
  store.SetRatio("x");
  store.SetVersion("9.9");
  EXPECT_EQ(1000, item->Size());
  EXPECT_EQ("100,00%", item->Ratio());
  EXPECT_EQ("100,00%", store.Ratio());
  EXPECT_EQ(1000, store.Size());
  EXPECT_EQ(1000, store.OriginalSize());
  EXPECT_EQ("1.1", store.Version());
}

TEST(StoredItems, AutomaticNamesAndRenames) {
  TmxStorage store(nullptr);
  auto* items = store.StoredItems();
  auto* a = static_cast<TmxStoredItem*>(items->Add());
  auto* b = static_cast<TmxStoredItem*>(items->Add());
  EXPECT_EQ("mxStoredItem1", a->Name());
  EXPECT_EQ("mxStoredItem2", b->Name());
  a->SetName("Library");
  auto* c = static_cast<TmxStoredItem*>(items->Add());
  EXPECT_EQ("mxStoredItem1", c->Name());

  // The automatic walk folds ASCII case: a lower-case name blocks its number.
  a->SetName("MXSTOREDITEM3");
  EXPECT_EQ("mxStoredItem4", static_cast<TmxStoredItem*>(items->Add())->Name());

  try {
    b->SetName("mxstoreditem1");
    FAIL() << "duplicate name taken";
  } catch (const rtl::Exception& e) {
    EXPECT_EQ("Duplicated stored item name", e.Message());
  }
  EXPECT_EQ("mxStoredItem2", b->Name());
  b->SetName("MXSTOREDITEM2"); // own name in other case: not taken
  EXPECT_EQ("mxStoredItem2", b->Name());
  b->SetName("Data");
  EXPECT_EQ("Data", b->Name());

  // Names leave with their items; a number written otherwise than "%d" blocks nothing.
  c->SetName("mxStoredItem01");
  items->Delete(items->Count() - 1); // mxStoredItem4
  EXPECT_EQ("mxStoredItem1", static_cast<TmxStoredItem*>(items->Add())->Name());
  EXPECT_EQ("mxStoredItem2", static_cast<TmxStoredItem*>(items->Add())->Name());
  EXPECT_EQ("mxStoredItem4", static_cast<TmxStoredItem*>(items->Add())->Name());
  delete c;
  a->SetName("mxStoredItem01");
  EXPECT_EQ("mxStoredItem01", a->Name());

  EXPECT_EQ(1, items->GetAttrCount());
  EXPECT_EQ("Name", items->GetAttr(0));
  EXPECT_EQ("", items->GetAttr(1));
  EXPECT_EQ("Data", items->GetItemAttr(0, 1));
  EXPECT_EQ("", items->GetItemAttr(1, 1));
  EXPECT_EQ(&store, items->GetOwner());
}

TEST(Storage, EmptyStoreAndIndexRules) {
  TmxStorage store(nullptr);
  EXPECT_EQ(0, store.Size());
  EXPECT_EQ(0, store.OriginalSize());
  EXPECT_EQ("100%", store.Ratio());
  EXPECT_EQ("1.1", store.Version());
  EXPECT_EQ(nullptr, store.GetStoredItem(0));
  store.StoredItems()->Add();
  EXPECT_NE(nullptr, store.GetStoredItem(0));
  EXPECT_EQ(nullptr, store.GetStoredItem(1));
  try {
    store.GetStoredItem(-1);
    FAIL();
  } catch (const rtl::EListError& e) {
    EXPECT_EQ("List index out of bounds (-1)", e.Message());
  }
}

TEST(Storage, RatioTextsFollowTheDecimalSeparator) {
  // The product payload's sizes and sums.
  EXPECT_EQ("100%", RatioText(5, 0));
  {
    TDecimalSeparator comma(',');
    EXPECT_EQ("88,04%", RatioText(1038561, 1179648));
    EXPECT_EQ("71,95%", RatioText(1539252, 2139189));
    EXPECT_EQ("54,73%", RatioText(141778, 259072));
    EXPECT_EQ("52,05%", RatioText(219593, 421888));
    EXPECT_EQ("50,01%", RatioText(139320, 278581));
    EXPECT_EQ("100%", RatioText(5, 0));
  }
  TDecimalSeparator point('.');
  EXPECT_EQ("88.04%", RatioText(1038561, 1179648));
  EXPECT_EQ("71.95%", RatioText(1539252, 2139189));
}

TEST(Storage, SumsAndCollectionAssignment) {
  TmxStorage store(nullptr);
  TMemoryStream src;
  for (int i = 0; i < 3; ++i) {
    auto* item = static_cast<TmxStoredItem*>(store.StoredItems()->Add());
    item->SetTag(10 + i);
    Fill(src, Content(1000 * (i + 1), i));
    item->LoadFromStream(&src);
  }
  EXPECT_EQ(6000, store.OriginalSize());
  EXPECT_EQ(store.GetStoredItem(0)->Size() + store.GetStoredItem(1)->Size() +
                store.GetStoredItem(2)->Size(),
            store.Size());

  TmxStorage copy(nullptr);
  copy.StoredItems()->Add()->Assign(store.GetStoredItem(2)); // emptied first by the assignment
  copy.GetStoredItem(0)->SetName("Gone");
  copy.SetStoredItems(store.StoredItems());
  ASSERT_EQ(3, copy.StoredItems()->Count());
  for (int i = 0; i < 3; ++i) {
    auto* s = store.GetStoredItem(i);
    auto* d = copy.GetStoredItem(i);
    EXPECT_EQ(s->Tag(), d->Tag());
    EXPECT_EQ(s->Data().Bytes(), d->Data().Bytes());
    EXPECT_EQ(rtl::Format("mxStoredItem%d", i + 1), d->Name());
    EXPECT_EQ(0, d->FileSize()); // not copied
    EXPECT_EQ("", d->FileName());
  }
}

TEST(Storage, AssignToAnotherClassFails) {
  TmxStorage store(nullptr);
  auto* item = store.StoredItems()->Add();
  try {
    store.StoredItems()->Assign(item);
    FAIL();
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ("Cannot assign a TmxStoredItem to a TmxStoredItems", e.Message());
  }
}

class Extract : public ::testing::Test {
protected:
  TempDir Dir;
  TmxStorage Store{nullptr};
  TmxStoredItem* Item = static_cast<TmxStoredItem*>(Store.StoredItems()->Add());
  std::vector<uint8_t> Payload = Content(300000, 11);

  void SetUp() override {
    TMemoryStream src;
    Fill(src, Payload);
    Item->LoadFromStream(&src);
  }

  // Corrupts the stored data in place, as a damaged resource would.
  void SetData(const std::vector<uint8_t>& bytes) { Fill(Item->Data(), bytes); }

  size_t FilesInDir() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(Dir.Path),
                                             std::filesystem::directory_iterator()));
  }
};

TEST_F(Extract, WritesExactContentAndReplacesOldFile) {
  const auto path = Dir.File("QLX_Tessel_3.dll");
  WriteFile(path, std::string(500000, 'o'));
  Item->ExtractToFile(path);
  EXPECT_EQ(Payload, ReadFile(path));
  EXPECT_EQ(1u, FilesInDir());
}

TEST_F(Extract, ZeroPrefixAndEmptyItemGiveEmptyFiles) {
  // A zlib stream whose content prefix is 0.
  const uint8_t zero[4] = {};
  std::vector<uint8_t> z(64);
  uLongf n = static_cast<uLongf>(z.size());
  ASSERT_EQ(Z_OK, compress(z.data(), &n, zero, 4));
  z.resize(n);
  SetData(z);
  Item->ExtractToFile(Dir.File("zero.bin"));
  EXPECT_TRUE(ReadFile(Dir.File("zero.bin")).empty());

  auto* empty = static_cast<TmxStoredItem*>(Store.StoredItems()->Add());
  empty->ExtractToFile(Dir.File("empty.bin"));
  EXPECT_TRUE(std::filesystem::exists(Dir.File("empty.bin")));
  EXPECT_EQ(0u, std::filesystem::file_size(Dir.File("empty.bin")));
}

TEST_F(Extract, MissingFolderGivesCreateErrorNamingThePath) {
  const auto path =
      Dir.File("missing") + (std::string(1, std::filesystem::path::preferred_separator) + "a.dll");
  try {
    Item->ExtractToFile(path);
    FAIL();
  } catch (const rtl::EFCreateError& e) {
    const std::string prefix = "Cannot create file \"" + path + "\". ";
    EXPECT_EQ(prefix, e.Message().substr(0, prefix.size()));
    EXPECT_GT(e.Message().size(), prefix.size()) << "system text missing";
    EXPECT_NE('.', e.Message().back());
  }
}

// Every failure leaves an earlier file as it was and no stray file behind.
TEST_F(Extract, FailuresKeepTheEarlierFile) {
  const auto path = Dir.File("sqlite3.dll");
  const std::string old = "earlier installation";
  const auto good = Bytes(Item->Data());

  struct Case {
    const char* What;
    std::vector<uint8_t> Data;
    std::string Message;
  };
  auto corrupt = good;
  corrupt[corrupt.size() / 2] ^= 0x55;
  auto shortStream = good;
  shortStream.resize(good.size() / 3);
  auto badChecksum = good;
  badChecksum.back() ^= 1;
  auto noTrailer = good;
  noTrailer.resize(good.size() - 4);

  // A stream whose prefix announces more than it holds.
  std::vector<uint8_t> plain(8, 0);
  plain[0] = 100;
  std::vector<uint8_t> longPrefix(64);
  uLongf n = static_cast<uLongf>(longPrefix.size());
  compress(longPrefix.data(), &n, plain.data(), static_cast<uLong>(plain.size()));
  longPrefix.resize(n);

  // A negative prefix is corrupt data, found before anything is written.
  std::vector<uint8_t> negative(64);
  const uint8_t neg[8] = {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4};
  n = static_cast<uLongf>(negative.size());
  compress(negative.data(), &n, neg, 8);
  negative.resize(n);

  for (const Case& c :
       {Case{"corrupt", corrupt, "Error"}, Case{"short", shortStream, "Stream read error"},
        Case{"checksum", badChecksum, "Error"}, Case{"no trailer", noTrailer, "Stream read error"},
        Case{"prefix longer than content", longPrefix, "Stream read error"},
        Case{"negative prefix", negative, "Invalid stored content length (-1)"}}) {
    SCOPED_TRACE(c.What);
    WriteFile(path, old);
    SetData(c.Data);
    // The check before an install finds what extraction would.
    try {
      Item->Verify();
      ADD_FAILURE() << "Verify found nothing";
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(c.Message, e.Message());
    }
    try {
      Item->ExtractToFile(path);
      ADD_FAILURE() << "no error";
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(c.Message, e.Message());
    }
    const auto kept = ReadFile(path);
    EXPECT_EQ(old, std::string(kept.begin(), kept.end()));
    EXPECT_EQ(1u, FilesInDir());

    // Without an earlier file, nothing is left behind at all.
    std::filesystem::remove(path);
    EXPECT_THROW(Item->ExtractToFile(path), rtl::Exception);
    EXPECT_EQ(0u, FilesInDir());
  }
}

TEST_F(Extract, VerifyPassesSoundDataAndRefusesAnythingAfterTheStream) {
  const auto good = Bytes(Item->Data());
  EXPECT_NO_THROW(Item->Verify());
  auto trailing = good;
  trailing.push_back(0);
  SetData(trailing);
  EXPECT_THROW(Item->Verify(), rtl::ECompressionError);
  // Content beyond what the prefix announces.
  std::vector<uint8_t> plain = {2, 0, 0, 0, 'a', 'b', 'c'};
  std::vector<uint8_t> shortPrefix(64);
  uLongf n = static_cast<uLongf>(shortPrefix.size());
  compress(shortPrefix.data(), &n, plain.data(), static_cast<uLong>(plain.size()));
  shortPrefix.resize(n);
  SetData(shortPrefix);
  EXPECT_THROW(Item->Verify(), rtl::ECompressionError);
  // Uncompressed data carries nothing to check.
  Item->SetCompression(TCompressionLevel::clNone);
  SetData(trailing);
  EXPECT_NO_THROW(Item->Verify());
}

TEST_F(Extract, SaveToStreamStopsAtThePrefixAndReportsShortData) {
  auto data = Bytes(Item->Data());
  data.resize(data.size() / 2);
  SetData(data);
  TMemoryStream out;
  try {
    Item->SaveToStream(&out);
    FAIL();
  } catch (const rtl::EReadError& e) {
    EXPECT_EQ("Stream read error", e.Message());
  }
}

#ifdef _WIN32
TEST_F(Extract, TargetHeldOpenWithoutSharingGivesCreateError) {
  const auto path = Dir.File("Msvcrt.dll");
  WriteFile(path, "in use");
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  try {
    Item->ExtractToFile(path);
    ADD_FAILURE();
  } catch (const rtl::EFCreateError& e) {
    EXPECT_EQ(0u, e.Message().find("Cannot create file \"" + path + "\". "));
  }
  CloseHandle(h);
  const auto kept = ReadFile(path);
  EXPECT_EQ("in use", std::string(kept.begin(), kept.end()));
  EXPECT_EQ(1u, FilesInDir());
}
#endif

// What the store relies on in the zlib adaptors, apart from the store.
TEST(ZLibStreams, AdaptorsKeepTheirContract) {
  const auto content = Content(200000, 11);
  TMemoryStream packed;
  {
    rtl::TCompressionStream zip(TCompressionLevel::clDefault, packed);
    zip.WriteBuffer(content.data(), 150000);
    EXPECT_EQ(150000, zip.Position()) << "the position query counts the input";
    zip.WriteBuffer(content.data() + 150000, 50000);
    uint8_t b;
    EXPECT_THROW(zip.Read(&b, 1), rtl::ECompressionError);
    EXPECT_THROW(zip.Seek(1, rtl::TSeekOrigin::soBeginning), rtl::ECompressionError);
    zip.Finish();
  }
  EXPECT_EQ(content, ZlibUncompress(Bytes(packed), content.size()));

  // Reading stops at the end of the zlib stream; closing gives back the
  // bytes read ahead, so the source stands right after the stream.
  const int64_t streamSize = packed.Size();
  const std::string tail = "after the stream";
  packed.SetPosition(streamSize);
  packed.WriteBuffer(tail.data(), static_cast<int32_t>(tail.size()));
  packed.SetPosition(0);
  {
    rtl::TDecompressionStream unzip(packed);
    std::vector<uint8_t> out(content.size() + 10);
    EXPECT_EQ(static_cast<int32_t>(content.size()),
              unzip.Read(out.data(), static_cast<int32_t>(out.size())));
    out.resize(content.size());
    EXPECT_EQ(content, out);
    EXPECT_TRUE(unzip.AtStreamEnd());
    try {
      unzip.Write(out.data(), 1);
      ADD_FAILURE() << "write to a decompressing stream";
    } catch (const rtl::EDecompressionError& e) {
      EXPECT_EQ("Invalid stream operation", e.Message());
    }
  }
  EXPECT_EQ(streamSize, packed.Position());

  // A stream that asks for a preset dictionary is refused, not read as empty.
  std::vector<uint8_t> dictStream(256);
  z_stream z{};
  ASSERT_EQ(Z_OK, deflateInit(&z, Z_DEFAULT_COMPRESSION));
  const Bytef dictionary[] = "QLX Tessel";
  ASSERT_EQ(Z_OK, deflateSetDictionary(&z, dictionary, sizeof dictionary - 1));
  z.next_in = const_cast<Bytef*>(dictionary);
  z.avail_in = sizeof dictionary - 1;
  z.next_out = dictStream.data();
  z.avail_out = static_cast<uInt>(dictStream.size());
  ASSERT_EQ(Z_STREAM_END, deflate(&z, Z_FINISH));
  dictStream.resize(z.total_out);
  deflateEnd(&z);
  rtl::TReadOnlyMemoryStream dictSource(dictStream.data(), dictStream.size());
  rtl::TDecompressionStream needsDict(dictSource);
  uint8_t b;
  try {
    needsDict.Read(&b, 1);
    ADD_FAILURE() << "a stream with a preset dictionary was read";
  } catch (const rtl::ECompressionError& e) {
    EXPECT_EQ("Error", e.Message());
  }

  // Extraction hands the content on in chunks of at most 61,440 bytes.
  struct TChunkCounter : TMemoryStream {
    int32_t Largest = 0;
    int32_t Write(const void* buffer, int32_t count) override {
      Largest = std::max(Largest, count);
      return TMemoryStream::Write(buffer, count);
    }
  };
  TmxStorage store(nullptr);
  auto* item = static_cast<TmxStoredItem*>(store.StoredItems()->Add());
  Fill(packed, Content(300000, 12));
  item->LoadFromStream(&packed);
  TChunkCounter chunks;
  item->SaveToStream(&chunks);
  EXPECT_EQ(300000, chunks.Size());
  EXPECT_EQ(61440, chunks.Largest);
}
