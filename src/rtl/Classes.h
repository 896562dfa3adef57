// The component model's base classes: persistent objects, components with an
// owner and a loading state, and collections of items.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rtl {

class TStream;

// Root of every class whose instances the framework names by class.
class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
  virtual const char* ClassName() const { return "TObject"; }
};

// An event slot: the handler and, for streaming, the name it was bound by.
template <typename Sig> struct TEvent {
  std::string HandlerName;
  std::function<Sig> Handler;

  explicit operator bool() const { return static_cast<bool>(Handler); }
  template <typename... A> void operator()(A&&... args) const {
    if (Handler)
      Handler(std::forward<A>(args)...);
  }
  void Clear() {
    HandlerName.clear();
    Handler = nullptr;
  }
};

using TNotifyEvent = TEvent<void(TObject* sender)>;

class TPersistent : public TObject {
public:
  const char* ClassName() const override { return "TPersistent"; }
  // Copies source into this object; fails with "Cannot assign a %s to a %s"
  // when neither side knows how.
  virtual void Assign(TPersistent* source);
  virtual TPersistent* GetOwner() { return nullptr; }

protected:
  // Asked of the source by Assign when the destination does not know it.
  virtual void AssignTo(TPersistent* dest);
  // "Cannot assign a <source class> to a <this class>".
  [[noreturn]] void AssignError(TPersistent* source);
};

enum TComponentStateFlag : uint32_t {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csWriting = 1u << 2,
  csDestroying = 1u << 3,
  csDesigning = 1u << 4,
};

// A named object owned by another component, which frees it.
class TComponent : public TPersistent {
public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  const char* ClassName() const override { return "TComponent"; }

  TComponent* Owner() const { return FOwner; }
  TPersistent* GetOwner() override { return FOwner; }
  const std::string& Name() const { return FName; }
  virtual void SetName(const std::string& name) { FName = name; }
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t tag) { FTag = tag; }

  uint32_t ComponentState() const { return FComponentState; }
  bool IsLoading() const { return (FComponentState & csLoading) != 0; }
  // The form reader marks a component while its properties are read...
  void BeginLoading() { FComponentState |= csLoading | csReading; }
  // ...and tells it when the whole stream has been read.
  void EndLoading();

  // Where a non-visual component sits on its form at design time.
  int32_t DesignLeft() const { return FDesignLeft; }
  int32_t DesignTop() const { return FDesignTop; }
  void SetDesignLeft(int32_t left) { FDesignLeft = left; }
  void SetDesignTop(int32_t top) { FDesignTop = top; }

  // The form reader tells each child whose record encloses it.
  virtual void SetParentComponent(TComponent*) {}
  // The components whose records the writer puts inside this one's.
  virtual void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root);

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const { return FComponents.at(static_cast<size_t>(index)); }
  TComponent* FindComponent(const std::string& name) const;

protected:
  // Runs once the form reader has set every property of every component.
  virtual void Loaded() {}

private:
  void InsertComponent(TComponent* child) { FComponents.push_back(child); }
  void RemoveComponent(TComponent* child);

  TComponent* FOwner;
  std::string FName;
  int32_t FTag = 0;
  int32_t FDesignLeft = 0;
  int32_t FDesignTop = 0;
  uint32_t FComponentState = 0;
  std::vector<TComponent*> FComponents; // owned
};

class TCollection;

class TCollectionItem : public TPersistent {
public:
  explicit TCollectionItem(TCollection* collection);
  ~TCollectionItem() override;
  const char* ClassName() const override { return "TCollectionItem"; }

  TCollection* Collection() const { return FCollection; }
  int Index() const;
  int ID() const { return FID; }
  TPersistent* GetOwner() override;
  virtual std::string DisplayName() const { return ClassName(); }

protected:
  // Tells the collection that this item (or, with allItems, every item) changed.
  void Changed(bool allItems);
  void LeaveCollection();

private:
  friend class TCollection;
  TCollection* FCollection = nullptr;
  int FID = 0;
};

enum class TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

// An ordered list of items of one class, which it owns.
class TCollection : public TPersistent {
public:
  using TItemFactory = std::function<TCollectionItem*(TCollection*)>;

  explicit TCollection(TItemFactory itemFactory);
  ~TCollection() override;
  const char* ClassName() const override { return "TCollection"; }

  int Count() const { return static_cast<int>(FItems.size()); }
  // "List index out of bounds (%d)" outside 0..Count-1.
  TCollectionItem* GetItem(int index) const;
  TCollectionItem* Add();
  void Clear();
  void Delete(int index);
  void Assign(TPersistent* source) override;

  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  // Design-time attributes of the items, for lists that show them.
  virtual int GetAttrCount() { return 0; }
  virtual std::string GetAttr(int) { return {}; }
  virtual std::string GetItemAttr(int, int) { return {}; }

protected:
  // Names an item that was just added.
  virtual void SetItemName(TCollectionItem*) {}
  // Runs after a change while not in update mode; item is null for "all items".
  virtual void Update(TCollectionItem*) {}
  virtual void Notify(TCollectionItem*, TCollectionNotification) {}
  void Changed();

private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);

  TItemFactory FItemFactory;
  std::vector<TCollectionItem*> FItems; // owned
  int FUpdateCount = 0;
  int FNextID = 0;
};

} // namespace rtl
