#include "mxStorage.h"

#include "rtl/AtomicFile.h"
#include "rtl/Filer.h"
#include "rtl/SysUtils.h"

#include <algorithm>
#include <climits>
#include <string_view>

namespace mx {

using rtl::TCompressionStream;
using rtl::TDecompressionStream;
using rtl::TMemoryStream;
using rtl::TStream;

std::string RatioText(int64_t part, int64_t whole) {
  if (whole == 0)
    return "100%";
  const long double r = static_cast<long double>(part) / static_cast<long double>(whole) * 100.0L;
  return rtl::FormatFixed2(r) + "%";
}

// --- TmxStoredItem ---

TmxStoredItem::TmxStoredItem(rtl::TCollection* collection) : rtl::TCollectionItem(collection) {}

TmxStoredItem::~TmxStoredItem() {
  FData.Clear();
  LeaveCollection();
  OnDestroy(this);
}

bool TmxStoredItem::StoreIsLoading() const {
  auto* items = dynamic_cast<TmxStoredItems*>(Collection());
  return items && items->Storage() && items->Storage()->IsLoading();
}

void TmxStoredItem::SetName(const std::string& name) {
  if (rtl::AnsiSameText(name, FName))
    return;
  auto* items = dynamic_cast<TmxStoredItems*>(Collection());
  // Any match is another item: this one's own name differs from name.
  if (items && items->NameInUse(name))
    throw rtl::Exception(SDuplicatedName);
  if (items) {
    items->NameTaken(name);
    if (FIndexed)
      items->NameFreed(FName);
    FIndexed = true;
  }
  FName = name;
  Changed(false);
}

bool IsStorableFileName(const std::string& fileName) {
  if (fileName.empty())
    return true;
  if (fileName == "." || fileName == "..")
    return false;
  const char last = fileName.back();
  return last != '.' && last != ' ' && !rtl::HasForbiddenFileNameCharacter(fileName) &&
         !rtl::IsDeviceFileName(fileName);
}

bool IsPlainFileName(const std::string& fileName) {
  return !fileName.empty() && IsStorableFileName(fileName);
}

void TmxStoredItem::SetFileName(const std::string& fileName) {
  if (!StoreIsLoading())
    return;
  // The name becomes a path under the installation folder.
  if (!IsStorableFileName(fileName))
    throw rtl::EReadError(rtl::Format("Invalid stored file name \"%s\"", fileName.c_str()));
  FFileName = fileName;
}

void TmxStoredItem::SetFileSize(int32_t fileSize) {
  if (StoreIsLoading())
    FFileSize = fileSize;
}

void TmxStoredItem::SetCompression(TCompressionLevel compression) {
  if (StoreIsLoading()) {
    FCompression = compression;
    return;
  }
  if (compression == FCompression)
    return;
  TMemoryStream buffer;
  SaveToStream(&buffer);
  FCompression = compression;
  LoadFromStream(&buffer);
}

std::string TmxStoredItem::Ratio() const {
  return RatioText(Size(), FFileSize);
}

rtl::TReadOnlyMemoryStream TmxStoredItem::Stored() const {
  if (FBorrowed)
    return rtl::TReadOnlyMemoryStream(FBorrowed, static_cast<size_t>(FBorrowedSize));
  return rtl::TReadOnlyMemoryStream(FData.Memory(), FData.Bytes().size());
}

void TmxStoredItem::ReleaseData() {
  FBorrowed = nullptr;
  FBorrowedSize = 0;
  FData.Clear();
}

rtl::TMemoryStream& TmxStoredItem::Data() {
  if (FBorrowed) {
    rtl::TReadOnlyMemoryStream stored = Stored();
    ReleaseData(); // the view still reaches the borrowed bytes
    FData.LoadFromStream(stored);
  }
  return FData;
}

void TmxStoredItem::LoadFromStream(TStream* source) {
  ReleaseData();
  if (!source || source->Size() == 0)
    return;
  source->SetPosition(0);
  OnBeforeLoad(this, source);
  if (FCompression != TCompressionLevel::clNone) {
    const int64_t size = source->Size();
    // The length prefix is a signed 32-bit value; larger content cannot be stored.
    if (size > INT32_MAX)
      throw rtl::EWriteError(rtl::SWriteError);
    const int32_t length = static_cast<int32_t>(size);
    TCompressionStream zip(FCompression, FData);
    const uint8_t prefix[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                               static_cast<uint8_t>(length >> 16),
                               static_cast<uint8_t>(length >> 24)};
    zip.WriteBuffer(prefix, 4);
    zip.CopyFrom(*source, length);
    FFileSize = length;
    zip.Finish();
  } else {
    FData.CopyFrom(*source, 0);
  }
  OnAfterLoad(this);
}

namespace {

// Takes every byte written and keeps none.
class TDiscardStream : public TStream {
public:
  int32_t Read(void*, int32_t) override { throw rtl::EReadError(rtl::SReadError); }
  int32_t Write(const void*, int32_t count) override { return count; }
  int64_t Seek(int64_t, rtl::TSeekOrigin) override { return 0; }
};

// The content behind the length prefix; with checkEnd, the content must be
// all the stream holds and zlib must have checked the stream's trailer.
void CopyContent(TDecompressionStream& unzip, TStream& dest, bool checkEnd) {
  uint8_t prefix[4];
  unzip.ReadBuffer(prefix, 4);
  const int32_t length = static_cast<int32_t>(
      static_cast<uint32_t>(prefix[0]) | static_cast<uint32_t>(prefix[1]) << 8 |
      static_cast<uint32_t>(prefix[2]) << 16 | static_cast<uint32_t>(prefix[3]) << 24);
  if (length < 0)
    throw rtl::EReadError(rtl::Format("Invalid stored content length (%d)", length));
  if (length != 0)
    dest.CopyFrom(unzip, length);
  if (!checkEnd)
    return;
  uint8_t extra;
  if (unzip.Read(&extra, 1) != 0)
    throw rtl::ECompressionError(rtl::SZLibError);
  if (!unzip.AtStreamEnd())
    throw rtl::EReadError(rtl::SReadError);
}

} // namespace

void TmxStoredItem::SaveContent(TStream& dest, bool checkEnd) const {
  rtl::TReadOnlyMemoryStream stored = Stored();
  if (FCompression == TCompressionLevel::clNone || stored.Size() == 0) {
    if (stored.Size() != 0)
      dest.CopyFrom(stored, 0);
    return;
  }
  TDecompressionStream unzip(stored);
  CopyContent(unzip, dest, checkEnd);
}

void TmxStoredItem::ExtractChecked(TStream& dest) const {
  rtl::TReadOnlyMemoryStream stored = Stored();
  if (FCompression == TCompressionLevel::clNone || stored.Size() == 0) {
    if (stored.Size() != 0)
      dest.CopyFrom(stored, 0);
    return;
  }
  {
    TDecompressionStream unzip(stored);
    CopyContent(unzip, dest, true);
  } // gives back the input read beyond the stream's end
  if (stored.Position() != stored.Size())
    throw rtl::ECompressionError(rtl::SZLibError);
}

void TmxStoredItem::Verify() const {
  TDiscardStream discard;
  ExtractChecked(discard);
}

void TmxStoredItem::SaveToStream(TStream* dest) {
  if (!dest)
    return;
  OnBeforeSave(this, dest);
  SaveContent(*dest, false);
  OnAfterSave(this);
}

void TmxStoredItem::ExtractToFile(const std::string& path) {
  rtl::TAtomicFileStream file(path);
  OnBeforeSave(this, &file);
  SaveContent(file, true);
  file.Commit();
  OnAfterSave(this);
}

void TmxStoredItem::ReadStoredItem(TStream& record) {
  ReleaseData();
  int32_t n = 0;
  record.ReadBuffer(&n, 4);
  // Never trust the length further than the record reaches.
  if (n < 1 || n > record.Size() - record.Position())
    throw rtl::EReadError(rtl::SReadError);
  if (auto* memory = dynamic_cast<rtl::TReadOnlyMemoryStream*>(&record);
      memory && memory->Persistent()) {
    // A large payload is then in memory once, where the program was loaded.
    FBorrowed = memory->Data() + memory->Position();
    FBorrowedSize = n;
    memory->Seek(n, rtl::TSeekOrigin::soCurrent);
    return;
  }
  // Sized once, so the buffer never holds the data twice while it grows.
  FData.SetSize(n);
  FData.SetPosition(0);
  FData.CopyFrom(record, n);
  FData.SetPosition(0);
}

void TmxStoredItem::WriteStoredItem(TStream& record) {
  const int32_t n = Size();
  rtl::TReadOnlyMemoryStream stored = Stored();
  record.WriteBuffer(&n, 4);
  record.CopyFrom(stored, 0);
}

void TmxStoredItem::AssignTo(rtl::TPersistent* dest) {
  auto* target = dynamic_cast<TmxStoredItem*>(dest);
  if (!target) {
    rtl::TCollectionItem::AssignTo(dest);
    return;
  }
  rtl::TCollection* c = Collection();
  if (c)
    c->BeginUpdate();
  try {
    target->FTag = FTag;
    target->ReleaseData();
    if (target != this && FBorrowed) {
      target->FBorrowed = FBorrowed;
      target->FBorrowedSize = FBorrowedSize;
    } else if (target != this) {
      FData.SetPosition(0);
      target->FData.CopyFrom(FData, 0);
    }
  } catch (...) {
    if (c)
      c->EndUpdate();
    throw;
  }
  if (c)
    c->EndUpdate();
}

// --- TmxStoredItems ---

TmxStoredItems::TmxStoredItems(TmxStorage* owner)
    : rtl::TCollection([](rtl::TCollection* c) { return new TmxStoredItem(c); }), FStorage(owner) {}

rtl::TPersistent* TmxStoredItems::GetOwner() {
  return FStorage;
}

std::string TmxStoredItems::GetAttr(int index) {
  return index == 0 ? "Name" : std::string();
}

std::string TmxStoredItems::GetItemAttr(int index, int itemIndex) {
  return index == 0 ? Items(itemIndex)->Name() : std::string();
}

namespace {

const std::string AutoNamePrefix = "MXSTOREDITEM";

// n for a name that folds to "MXSTOREDITEM<n>" as "mxStoredItem%d" writes
// it (n from 1, no sign or leading zero), else 0.
int AutoNameNumber(const std::string& name) {
  const size_t digits = name.size() - std::min(name.size(), AutoNamePrefix.size());
  if (digits == 0 || digits > 10 || name[AutoNamePrefix.size()] == '0' ||
      !rtl::SameText(name.substr(0, AutoNamePrefix.size()), AutoNamePrefix))
    return 0;
  int64_t n = 0;
  for (size_t i = AutoNamePrefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9')
      return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n <= INT_MAX ? static_cast<int>(n) : 0;
}

} // namespace

bool TmxStoredItems::NameInUse(const std::string& name) const {
  return FNameKeys.count(rtl::AnsiCaseKey(name)) != 0;
}

void TmxStoredItems::NameTaken(const std::string& name) {
  ++FNameKeys[rtl::AnsiCaseKey(name)];
  if (const int n = AutoNameNumber(name))
    ++FNumbers[n];
}

void TmxStoredItems::NameFreed(const std::string& name) {
  if (auto it = FNameKeys.find(rtl::AnsiCaseKey(name)); it != FNameKeys.end() && --it->second == 0)
    FNameKeys.erase(it);
  if (const int n = AutoNameNumber(name)) {
    if (auto it = FNumbers.find(n); it != FNumbers.end() && --it->second == 0) {
      FNumbers.erase(it);
      FFreeHint = std::min(FFreeHint, n);
    }
  }
}

void TmxStoredItems::Notify(rtl::TCollectionItem* item, rtl::TCollectionNotification action) {
  auto* stored = static_cast<TmxStoredItem*>(item);
  if (action == rtl::TCollectionNotification::cnExtracting && stored->FIndexed) {
    NameFreed(stored->FName);
    stored->FIndexed = false;
  }
}

// The smallest n whose name no other item uses (ASCII letters folded). The
// new item itself has no name yet, so the index holds only the others.
void TmxStoredItems::SetItemName(rtl::TCollectionItem* item) {
  int n = FFreeHint;
  while (FNumbers.count(n))
    ++n;
  FFreeHint = n;
  static_cast<TmxStoredItem*>(item)->SetName(rtl::Format("mxStoredItem%d", n));
}

// --- TmxStorage ---

TmxStorage::TmxStorage(rtl::TComponent* owner)
    : rtl::TComponent(owner), FStoredItems(std::make_unique<TmxStoredItems>(this)),
      FVersion(0x0101) {}

TmxStorage::~TmxStorage() {
  FStoredItems.reset();
}

TmxStoredItem* TmxStorage::GetStoredItem(int32_t index) const {
  if (index >= FStoredItems->Count())
    return nullptr;
  return FStoredItems->Items(index);
}

int32_t TmxStorage::Size() const {
  uint32_t sum = 0;
  for (int i = 0; i < FStoredItems->Count(); ++i)
    sum += static_cast<uint32_t>(FStoredItems->Items(i)->Size());
  return static_cast<int32_t>(sum);
}

int32_t TmxStorage::OriginalSize() const {
  uint32_t sum = 0;
  for (int i = 0; i < FStoredItems->Count(); ++i)
    sum += static_cast<uint32_t>(FStoredItems->Items(i)->FileSize());
  return static_cast<int32_t>(sum);
}

std::string TmxStorage::Ratio() const {
  return RatioText(Size(), OriginalSize());
}

std::string TmxStorage::Version() const {
  return rtl::Format("%d.%d", (FVersion >> 8) & 0xFF, FVersion & 0xFF);
}

namespace {

constexpr const char* CompressionNames[] = {"clNone", "clFastest", "clDefault", "clMax"};

} // namespace

void RegisterStorageClasses() {
  if (rtl::FindClassInfo("TmxStorage"))
    return;
  if (!rtl::FindClassInfo("TComponent"))
    rtl::RegisterRuntimeClasses();

  rtl::TClassBuilder<TmxStoredItem>("TmxStoredItem", "TCollectionItem")
      .Event("OnCreate", &TmxStoredItem::OnCreate)
      .Event("OnDestroy", &TmxStoredItem::OnDestroy)
      .Event("OnBeforeLoad", &TmxStoredItem::OnBeforeLoad)
      .Event("OnBeforeSave", &TmxStoredItem::OnBeforeSave)
      .Event("OnAfterLoad", &TmxStoredItem::OnAfterLoad)
      .Event("OnAfterSave", &TmxStoredItem::OnAfterSave)
      .Enum("Compression", &TmxStoredItem::Compression, &TmxStoredItem::SetCompression,
            CompressionNames, static_cast<int>(TCompressionLevel::clDefault))
      .Integer("Tag", &TmxStoredItem::Tag, &TmxStoredItem::SetTag)
      .String("Name", &TmxStoredItem::Name, &TmxStoredItem::SetName)
      .String("FileName", &TmxStoredItem::FileName, &TmxStoredItem::SetFileName)
      .Integer("FileSize", &TmxStoredItem::FileSize, &TmxStoredItem::SetFileSize)
      .Integer("Size", &TmxStoredItem::Size, &TmxStoredItem::SetSize)
      .String("Ratio", &TmxStoredItem::Ratio, &TmxStoredItem::SetRatio)
      .Binary("StoredItem", &TmxStoredItem::ReadStoredItem, &TmxStoredItem::WriteStoredItem,
              [](TmxStoredItem* item) { return item->Size() > 0; })
      .Register();

  rtl::TClassBuilder<TmxStorage>("TmxStorage", "TComponent")
      .Creatable()
      .Integer("OriginalSize", &TmxStorage::OriginalSize, &TmxStorage::SetOriginalSize)
      .String("Ratio", &TmxStorage::Ratio, &TmxStorage::SetRatio)
      .Integer("Size", &TmxStorage::Size, &TmxStorage::SetSize)
      .Collection("StoredItems", &TmxStorage::StoredItems)
      .String("Version", &TmxStorage::Version, &TmxStorage::SetVersion)
      .Event("OnExtractError", &TmxStorage::OnExtractError)
      .Event("OnBeforeExtract", &TmxStorage::OnBeforeExtract)
      .Event("OnAfterExtract", &TmxStorage::OnAfterExtract)
      .Register();
}

} // namespace mx
