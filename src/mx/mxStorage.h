// The payload store: files kept compressed in memory, written out on demand.
#pragma once

#include "rtl/Classes.h"
#include "rtl/Streams.h"
#include "rtl/ZLibStreams.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace mx {

using rtl::TCompressionLevel;

class TmxStorage;

using TmxStreamEvent = rtl::TEvent<void(rtl::TObject* sender, rtl::TStream* stream)>;
using TmxExtractError =
    rtl::TEvent<void(rtl::TObject* sender, const std::string& path, const std::string& fileName)>;
using TmxBeforeExtract = rtl::TEvent<void(rtl::TObject* sender, std::string& path,
                                          std::string& fileName, bool& extract)>;
using TmxAfterExtract =
    rtl::TEvent<void(rtl::TObject* sender, const std::string& path, const std::string& fileName)>;

inline constexpr const char* SDuplicatedName = "Duplicated stored item name";

// One stored file. Its data holds the content in stored form: a zlib stream
// of a 4-byte little-endian length and the content, or the bare content for
// clNone, or nothing for empty content.
class TmxStoredItem : public rtl::TCollectionItem {
public:
  explicit TmxStoredItem(rtl::TCollection* collection);
  ~TmxStoredItem() override;
  const char* ClassName() const override { return "TmxStoredItem"; }
  std::string DisplayName() const override { return FName; }

  int32_t Tag() const { return FTag; }
  void SetTag(int32_t tag) { FTag = tag; }
  const std::string& Name() const { return FName; }
  // "Duplicated stored item name" when another item has that name.
  void SetName(const std::string& name);
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& fileName);
  int32_t FileSize() const { return FFileSize; }
  void SetFileSize(int32_t fileSize);
  TCompressionLevel Compression() const { return FCompression; }
  // Re-encodes the data, except while the store is being loaded.
  void SetCompression(TCompressionLevel compression);
  int32_t Size() const {
    return FBorrowed ? FBorrowedSize : static_cast<int32_t>(FData.Bytes().size());
  }
  void SetSize(int32_t) {}
  std::string Ratio() const;
  void SetRatio(const std::string&) {}

  void LoadFromStream(rtl::TStream* source);
  void SaveToStream(rtl::TStream* dest);
  // Replaces the file at path only once the whole content is out and checked.
  void ExtractToFile(const std::string& path);
  // Writes the content into dest, a stream the caller owns, reading it the
  // way ExtractToFile does and checking it on the way: raises what extraction
  // would raise for damaged data (the zlib stream to its end, its checksum,
  // the length prefix), and also when anything follows the zlib stream. What
  // was written before a failure stays in dest. Data stored without
  // compression has nothing to check.
  void ExtractChecked(rtl::TStream& dest) const;
  // ExtractChecked, writing nowhere.
  void Verify() const;

  // The "StoredItem" record: a 4-byte data length, then the data.
  void ReadStoredItem(rtl::TStream& record);
  void WriteStoredItem(rtl::TStream& record);
  // The stored data, the item's own from here on: the caller may change it.
  rtl::TMemoryStream& Data();

  rtl::TNotifyEvent OnCreate;
  rtl::TNotifyEvent OnDestroy;
  TmxStreamEvent OnBeforeLoad;
  TmxStreamEvent OnBeforeSave;
  rtl::TNotifyEvent OnAfterLoad;
  rtl::TNotifyEvent OnAfterSave;

protected:
  void AssignTo(rtl::TPersistent* dest) override;

private:
  friend class TmxStoredItems; // keeps its name index with FName and FIndexed
  bool StoreIsLoading() const;
  void SaveContent(rtl::TStream& dest, bool checkEnd) const;
  // The stored data where it lies, for reading.
  rtl::TReadOnlyMemoryStream Stored() const;
  void ReleaseData();

  int32_t FTag = 0;
  std::string FName;
  std::string FFileName;
  int32_t FFileSize = 0;
  rtl::TMemoryStream FData;
  // Data read from memory that outlives the item (the program's own
  // resource) stays there instead of being copied into FData.
  const uint8_t* FBorrowed = nullptr;
  int32_t FBorrowedSize = 0;
  TCompressionLevel FCompression = TCompressionLevel::clDefault;
  // Whether FName is counted in the collection's name index.
  bool FIndexed = false;
};

class TmxStoredItems : public rtl::TCollection {
public:
  explicit TmxStoredItems(TmxStorage* owner);
  const char* ClassName() const override { return "TmxStoredItems"; }
  rtl::TPersistent* GetOwner() override;
  TmxStorage* Storage() const { return FStorage; }
  TmxStoredItem* Items(int index) const { return static_cast<TmxStoredItem*>(GetItem(index)); }

  int GetAttrCount() override { return 1; }
  std::string GetAttr(int index) override;
  std::string GetItemAttr(int index, int itemIndex) override;

protected:
  void SetItemName(rtl::TCollectionItem* item) override;
  void Update(rtl::TCollectionItem*) override {}
  void Notify(rtl::TCollectionItem* item, rtl::TCollectionNotification action) override;

private:
  friend class TmxStoredItem;
  // The names in use, kept so that naming and the duplicate check cost a
  // look-up instead of a walk over every item.
  bool NameInUse(const std::string& name) const;
  void NameTaken(const std::string& name);
  void NameFreed(const std::string& name);

  TmxStorage* FStorage;
  std::map<std::string, int> FNameKeys; // AnsiCaseKey of each name, with its count
  std::map<int, int> FNumbers;          // n of each name that folds to MXSTOREDITEM<n>
  int FFreeHint = 1;                    // no n below it is free
};

class TmxStorage : public rtl::TComponent {
public:
  explicit TmxStorage(rtl::TComponent* owner);
  ~TmxStorage() override;
  const char* ClassName() const override { return "TmxStorage"; }

  // The item at index, or none at or beyond the count; "List index out of
  // bounds" below 0.
  TmxStoredItem* GetStoredItem(int32_t index) const;
  TmxStoredItems* StoredItems() const { return FStoredItems.get(); }
  void SetStoredItems(TmxStoredItems* items) { FStoredItems->Assign(items); }

  int32_t Size() const;
  void SetSize(int32_t) {}
  int32_t OriginalSize() const;
  void SetOriginalSize(int32_t) {}
  std::string Ratio() const;
  void SetRatio(const std::string&) {}
  std::string Version() const;
  void SetVersion(const std::string&) {}

  TmxExtractError OnExtractError;
  TmxBeforeExtract OnBeforeExtract;
  TmxAfterExtract OnAfterExtract;

private:
  std::unique_ptr<TmxStoredItems> FStoredItems;
  int32_t FVersion;
};

// Registers TmxStorage and TmxStoredItem with the filer, in the property
// order their form records carry.
void RegisterStorageClasses();

// True for a name a store may carry: empty (an item nobody named yet), or a
// bare name Windows can create inside a folder: no path delimiter, drive,
// "." or "..", none of <>"|?* or control characters, no trailing dot or
// blank, no device name such as CON or LPT1 (with or without extension).
bool IsStorableFileName(const std::string& fileName);

// A storable name that is not empty: the item can be written into a folder.
bool IsPlainFileName(const std::string& fileName);

// "100%" for a zero whole, else part / whole * 100 with two decimals and "%".
std::string RatioText(int64_t part, int64_t whole);

} // namespace mx
