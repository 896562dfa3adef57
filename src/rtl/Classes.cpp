#include "Classes.h"

#include "SysUtils.h"

#include <algorithm>
#include <iterator>

namespace rtl {

// --- TPersistent ---

void TPersistent::Assign(TPersistent* source) {
  if (source)
    source->AssignTo(this);
  else
    AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* dest) {
  dest->AssignError(this);
}

void TPersistent::AssignError(TPersistent* source) {
  throw EConvertError(Format(SAssignError, source ? source->ClassName() : "nil", ClassName()));
}

// --- TComponent ---

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
  if (FOwner)
    FOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  FComponentState |= csDestroying;
  // Owned components go first, newest last created first.
  while (!FComponents.empty()) {
    TComponent* child = FComponents.back();
    FComponents.pop_back();
    child->FOwner = nullptr;
    delete child;
  }
  if (FOwner)
    FOwner->RemoveComponent(this);
}

void TComponent::EndLoading() {
  FComponentState &= ~(csLoading | csReading);
  Loaded();
}

void TComponent::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  if (this != root)
    return;
  for (TComponent* c : FComponents)
    proc(c);
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty())
    return nullptr;
  for (TComponent* c : FComponents)
    if (SameText(c->Name(), name))
      return c;
  return nullptr;
}

void TComponent::RemoveComponent(TComponent* child) {
  auto it = std::find(FComponents.begin(), FComponents.end(), child);
  if (it != FComponents.end())
    FComponents.erase(it);
}

// --- TCollectionItem ---

TCollectionItem::TCollectionItem(TCollection* collection) : FCollection(collection) {}

TCollectionItem::~TCollectionItem() {
  LeaveCollection();
}

void TCollectionItem::LeaveCollection() {
  if (FCollection)
    FCollection->RemoveItem(this);
}

int TCollectionItem::Index() const {
  if (!FCollection)
    return -1;
  const auto& items = FCollection->FItems;
  auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

TPersistent* TCollectionItem::GetOwner() {
  return FCollection;
}

void TCollectionItem::Changed(bool allItems) {
  if (FCollection && FCollection->FUpdateCount == 0)
    FCollection->Update(allItems ? nullptr : this);
}

// --- TCollection ---

TCollection::TCollection(TItemFactory itemFactory) : FItemFactory(std::move(itemFactory)) {}

TCollection::~TCollection() {
  FUpdateCount = 1; // nothing to notify while everything goes
  while (!FItems.empty())
    delete FItems.back();
}

TCollectionItem* TCollection::GetItem(int index) const {
  if (index < 0 || index >= Count())
    throw EListError(Format(SListIndexError, index));
  return FItems[static_cast<size_t>(index)];
}

TCollectionItem* TCollection::Add() {
  // The item is built whole before it joins, so the naming hook sees a
  // complete object.
  std::unique_ptr<TCollectionItem> item(FItemFactory(this));
  item->FCollection = nullptr;
  InsertItem(item.get());
  return item.release();
}

void TCollection::InsertItem(TCollectionItem* item) {
  item->FCollection = this;
  item->FID = FNextID++;
  FItems.push_back(item);
  try {
    SetItemName(item);
  } catch (...) {
    FItems.pop_back();
    item->FCollection = nullptr;
    throw;
  }
  Notify(item, TCollectionNotification::cnAdded);
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* item) {
  // Searched from the end, where Clear and destruction take their items.
  auto it = std::find(FItems.rbegin(), FItems.rend(), item);
  if (it == FItems.rend())
    return;
  Notify(item, TCollectionNotification::cnExtracting);
  FItems.erase(std::next(it).base());
  item->FCollection = nullptr;
  Changed();
}

void TCollection::Clear() {
  if (FItems.empty())
    return;
  BeginUpdate();
  try {
    while (!FItems.empty())
      delete FItems.back();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::Delete(int index) {
  TCollectionItem* item = GetItem(index);
  Notify(item, TCollectionNotification::cnDeleting);
  delete item;
}

void TCollection::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TCollection*>(source);
  if (!other) {
    TPersistent::Assign(source);
    return;
  }
  if (other == this)
    return;
  BeginUpdate();
  try {
    Clear();
    for (int i = 0; i < other->Count(); ++i)
      Add()->Assign(other->GetItem(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::EndUpdate() {
  if (FUpdateCount > 0)
    --FUpdateCount;
  Changed();
}

void TCollection::Changed() {
  if (FUpdateCount == 0)
    Update(nullptr);
}

} // namespace rtl
