#include "Filer.h"

#include <cstring>

namespace rtl {

namespace {

std::string Upper(const std::string& s) {
  std::string u = s;
  for (char& c : u)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 32);
  return u;
}

std::map<std::string, TClassInfo>& Registry() {
  static std::map<std::string, TClassInfo> registry;
  return registry;
}

const TPropInfo* FindIn(const std::vector<TPropInfo>& list, const std::string& name) {
  for (const TPropInfo& p : list)
    if (SameText(p.Name, name))
      return &p;
  return nullptr;
}

// An error that already carries its property, so that enclosing properties
// pass it on unchanged.
class EPropertyReadError : public EReadError {
public:
  using EReadError::EReadError;
};

} // namespace

// --- registry ---

const TPropInfo* TClassInfo::FindProperty(const std::string& name) const {
  for (const TClassInfo* c = this; c; c = c->Parent)
    if (const TPropInfo* p = FindIn(c->Published, name))
      return p;
  for (const TClassInfo* c = this; c; c = c->Parent)
    if (const TPropInfo* p = FindIn(c->Defined, name))
      return p;
  return nullptr;
}

bool TClassInfo::InheritsFrom(const std::string& className) const {
  for (const TClassInfo* c = this; c; c = c->Parent)
    if (SameText(c->Name, className))
      return true;
  return false;
}

void RegisterClass(TClassInfo info) {
  const std::string key = Upper(info.Name);
  Registry().insert_or_assign(key, std::move(info));
}

const TClassInfo* FindClassInfo(const std::string& className) {
  auto it = Registry().find(Upper(className));
  return it == Registry().end() ? nullptr : &it->second;
}

const TClassInfo* ClassInfoOf(const TPersistent* instance) {
  return instance ? FindClassInfo(instance->ClassName()) : nullptr;
}

size_t ReadEnumIndex(TReader& reader, const char* const* names, size_t count) {
  const std::string ident = reader.ReadIdent();
  for (size_t i = 0; i < count; ++i)
    if (SameText(names[i], ident))
      return i;
  throw EReadError(SInvalidPropertyType);
}

void WriteEnumName(TWriter& writer, size_t value, const char* const* names, size_t count) {
  writer.WriteIdent(value < count ? std::string(names[value]) : std::to_string(value));
}

std::string TMethodTable::Key(const std::string& name) {
  return Upper(name);
}

// --- TReader ---

TReader::TReader(TStream& stream) : FStream(stream), FBinary(stream) {}

long double TReader::ReadFloat() {
  TFormValue v = FBinary.ReadFormValue();
  switch (v.Type) {
  case TValueType::vaExtended:
    return v.AsExtended();
  case TValueType::vaSingle:
    return v.AsSingle();
  default:
    if (v.IsInteger())
      return static_cast<long double>(v.Int);
    throw EReadError(SInvalidPropertyType);
  }
}

void TReader::ReadBinary(const std::function<void(TStream&)>& read) {
  if (FBinary.NextValue() != TValueType::vaBinary) {
    FBinary.SkipValue();
    throw EReadError(SInvalidPropertyType);
  }
  FBinary.ReadValue();
  int32_t count = 0;
  FBinary.Read(&count, 4);
  if (count < 0 || count > FBinary.Remaining())
    throw EReadError(SReadError);
  const int64_t start = FStream.Position();
  const uint8_t* memory = nullptr;
  bool persistent = false;
  if (auto* rom = dynamic_cast<TReadOnlyMemoryStream*>(&FStream)) {
    memory = rom->Data();
    persistent = rom->Persistent();
  } else if (auto* ms = dynamic_cast<TMemoryStream*>(&FStream)) {
    memory = ms->Memory();
  }
  if (memory) {
    // The value's bytes are handed over where they lie.
    TReadOnlyMemoryStream view(memory + start, static_cast<size_t>(count), persistent);
    read(view);
  } else {
    // Read through a window, so a large value never sits in memory twice.
    TStreamView view(FStream, start, count);
    read(view);
  }
  FStream.SetPosition(start + count);
}

void TReader::ReadCollection(TCollection* collection) {
  if (FBinary.ReadValue() != TValueType::vaCollection)
    throw EReadError(SInvalidPropertyType);
  TNestingGuard nesting(FBinary.Depth());
  if (!FBinary.EndOfList())
    collection->Clear();
  collection->BeginUpdate();
  try {
    for (int count = 0; !FBinary.EndOfList(); ++count) {
      if (count == MaxStreamedItems)
        throw EReadError(STooManyItems);
      if (IsIntegerType(FBinary.NextValue()))
        FBinary.ReadInteger(); // the item's order: not needed
      TCollectionItem* item = collection->Add();
      FBinary.ReadListBegin();
      ReadProperties(item, item->ClassName());
    }
    FBinary.ReadListEnd();
  } catch (...) {
    collection->EndUpdate();
    throw;
  }
  collection->EndUpdate();
}

void TReader::ReadProperties(TPersistent* instance, const std::string& instanceName) {
  while (!FBinary.EndOfList())
    ReadProperty(instance, instanceName);
  FBinary.ReadListEnd();
}

void TReader::ReadProperty(TPersistent* instance, const std::string& instanceName) {
  const std::string path = FBinary.ReadStr();
  try {
    TPersistent* target = instance;
    std::string rest = path;
    for (size_t dot; (dot = rest.find('.')) != std::string::npos;) {
      const std::string head = rest.substr(0, dot);
      const TClassInfo* info = ClassInfoOf(target);
      const TPropInfo* prop = info ? info->FindProperty(head) : nullptr;
      if (!prop || !prop->Object)
        throw EReadError(Format(SUnknownProperty, head.c_str()));
      target = prop->Object(target);
      rest = rest.substr(dot + 1);
    }
    const TClassInfo* info = ClassInfoOf(target);
    const TPropInfo* prop = info ? info->FindProperty(rest) : nullptr;
    if (!prop || !prop->Read) {
      FBinary.SkipValue();
      throw EReadError(Format(SUnknownProperty, rest.c_str()));
    }
    prop->Read(target, *this);
  } catch (const EPropertyReadError&) {
    throw;
  } catch (const Exception& e) {
    throw EPropertyReadError(
        Format(SReadPropertyError, instanceName.c_str(), ".", path.c_str(), e.Message().c_str()));
  }
}

TComponent* TReader::ReadComponent(TComponent* component) {
  TNestingGuard guard(FBinary.Depth());
  bool hasPrefix = false;
  uint8_t prefix = 0;
  TValueType posType = TValueType::vaNull;
  int32_t childPos = 0;
  FBinary.ReadPrefix(hasPrefix, prefix, posType, childPos);
  const std::string className = FBinary.ReadStr();
  const std::string name = FBinary.ReadStr();
  const bool skipRoot = FSkipUnknown && component == FRoot && component &&
                        !SameText(component->ClassName(), className);
  const TClassInfo* info = component ? nullptr : FindClassInfo(className);
  if (skipRoot || (!component && FSkipUnknown && (!info || !info->Create))) {
    // Not ours to build: pass over its properties, keep reading its children.
    while (!FBinary.EndOfList()) {
      FBinary.ReadStr();
      FBinary.SkipValue();
    }
    FBinary.ReadListEnd();
    ReadChildren(skipRoot ? component : FParent);
    return component;
  }
  if (!component) {
    if (!info || !info->Create)
      throw EClassNotFound(Format(SClassNotFound, className.c_str()));
    component = info->Create(FRoot);
    component->BeginLoading();
    FLoaded.push_back(component);
    component->SetName(name);
    component->SetParentComponent(FParent);
  } else if (!SameText(component->ClassName(), className)) {
    throw EReadError(SInvalidStreamFormat);
  } else if (component == FRoot && !name.empty()) {
    component->SetName(name);
  }
  ReadProperties(component, component->Name().empty() ? className : component->Name());
  ReadChildren(component);
  return component;
}

void TReader::ReadChildren(TComponent* parent) {
  TComponent* saved = FParent;
  FParent = parent;
  try {
    while (!FBinary.EndOfList())
      ReadComponent(nullptr);
    FBinary.ReadListEnd();
  } catch (...) {
    FParent = saved;
    throw;
  }
  FParent = saved;
}

void TReader::ReadRootComponent(TComponent* root) {
  FRoot = root;
  FParent = nullptr;
  FBinary.ReadSignature();
  root->BeginLoading();
  FLoaded.assign(1, root);
  ReadComponent(root);
  for (TComponent* c : FLoaded)
    c->EndLoading();
  FLoaded.clear();
}

// --- TWriter ---

void TWriter::WriteRootComponent(TComponent* root) {
  FRoot = root;
  FBinary.WriteSignature();
  WriteComponent(root);
}

void TWriter::WriteComponent(TComponent* component) {
  FBinary.WriteStr(component->ClassName());
  FBinary.WriteStr(component->Name());
  WriteProperties(component);
  FBinary.WriteListEnd();
  component->GetChildren([this](TComponent* child) { WriteComponent(child); },
                         FRoot ? FRoot : component);
  FBinary.WriteListEnd();
}

void TWriter::WriteProperties(TPersistent* instance, const std::string& prefix) {
  const TClassInfo* info = ClassInfoOf(instance);
  if (!info)
    throw EWriteError(Format(SClassNotFound, instance->ClassName()));
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* c = info; c; c = c->Parent)
    chain.insert(chain.begin(), c);
  auto writeList = [&](const std::vector<TPropInfo>& list) {
    for (const TPropInfo& p : list) {
      if (p.Stored && !p.Stored(instance))
        continue;
      if (p.Object) {
        WriteProperties(p.Object(instance), prefix + p.Name + ".");
      } else if (p.Write) {
        FBinary.WriteStr(prefix + p.Name);
        p.Write(instance, *this);
      }
    }
  };
  for (const TClassInfo* c : chain)
    writeList(c->Published);
  for (const TClassInfo* c : chain)
    writeList(c->Defined);
}

void TWriter::WriteCollection(TCollection* collection) {
  FBinary.WriteValue(TValueType::vaCollection);
  for (int i = 0; i < collection->Count(); ++i) {
    FBinary.WriteListBegin();
    WriteProperties(collection->GetItem(i));
    FBinary.WriteListEnd();
  }
  FBinary.WriteListEnd();
}

// --- the runtime's classes ---

void RegisterRuntimeClasses() {
  TClassBuilder<TPersistent>("TPersistent", nullptr).Register();
  TClassBuilder<TCollectionItem>("TCollectionItem", "TPersistent").Register();
  TClassBuilder<TCollection>("TCollection", "TPersistent").Register();
  TClassBuilder<TComponent>("TComponent", "TPersistent")
      .Integer("Tag", &TComponent::Tag, &TComponent::SetTag, 0)
      .DefinedCustom(
          "Left", [](TComponent* c, TReader& r) { c->SetDesignLeft(r.ReadInteger()); },
          [](TComponent* c, TWriter& w) { w.WriteInteger(c->DesignLeft()); },
          [](TComponent* c) { return c->DesignLeft() != 0 || c->DesignTop() != 0; })
      .DefinedCustom(
          "Top", [](TComponent* c, TReader& r) { c->SetDesignTop(r.ReadInteger()); },
          [](TComponent* c, TWriter& w) { w.WriteInteger(c->DesignTop()); },
          [](TComponent* c) { return c->DesignLeft() != 0 || c->DesignTop() != 0; })
      .Register();
}

} // namespace rtl
