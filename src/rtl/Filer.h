// The component model's filer: a registry of classes with their published
// properties in order, and the reader and writer that move components between
// objects and binary form streams.
#pragma once

#include "Classes.h"
#include "FormBinary.h"
#include "SysUtils.h"

#include <any>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace rtl {

class TReader;
class TWriter;

// A callable for the property tables: a plain function and a few bytes of
// its own that it is handed back. Every property of every class shares one
// such type per signature; a lambda per property in a std::function would
// instantiate a handler, its manager and its type information each.
template <typename Sig> class TPropFunction;

template <typename R, typename... Args> class TPropFunction<R(Args...)> {
public:
  using TCall = R (*)(const void* data, Args...);

  TPropFunction() = default;
  TPropFunction(std::nullptr_t) {}
  // call gets a pointer to a copy of data.
  template <typename D> TPropFunction(TCall call, const D& data) : FCall(call) {
    static_assert(std::is_trivially_copyable_v<D> && sizeof(D) <= sizeof(FData));
    std::memcpy(FData, &data, sizeof data);
  }

  explicit operator bool() const { return FCall != nullptr; }
  R operator()(Args... args) const { return FCall(FData, std::forward<Args>(args)...); }

private:
  TCall FCall = nullptr;
  // Room for two member function pointers, a default value and a span.
  alignas(8) unsigned char FData[2 * sizeof(void(TPersistent::*)()) + sizeof(int64_t) +
                                 2 * sizeof(void*)] = {};
};

// The data a TPropFunction was made with, back from its bytes.
template <typename D> D PropData(const void* data) {
  D d;
  std::memcpy(&d, data, sizeof d);
  return d;
}

// One property as the filer sees it.
struct TPropInfo {
  std::string Name;
  // Reads one value from the stream and sets it on the instance.
  TPropFunction<void(TPersistent*, TReader&)> Read;
  // Writes the value (the name is already written); null: never written.
  TPropFunction<void(TPersistent*, TWriter&)> Write;
  // Whether the writer writes the property for this instance.
  TPropFunction<bool(TPersistent*)> Stored;
  // A sub-object (a font) whose own properties are reached by dotted names.
  TPropFunction<TPersistent*(TPersistent*)> Object;
};

// A class: its name, its ancestor, how to create a component of it, its
// published properties in order and the properties it defines itself, which
// the writer writes after every published one.
struct TClassInfo {
  std::string Name;
  const TClassInfo* Parent = nullptr;
  TComponent* (*Create)(TComponent* owner) = nullptr;
  std::vector<TPropInfo> Published;
  std::vector<TPropInfo> Defined;

  const TPropInfo* FindProperty(const std::string& name) const;
  bool InheritsFrom(const std::string& className) const;
};

// The registry, keyed by class name without regard to case.
void RegisterClass(TClassInfo info);
const TClassInfo* FindClassInfo(const std::string& className);
const TClassInfo* ClassInfoOf(const TPersistent* instance);

inline constexpr const char* SUnknownProperty = "Property %s does not exist";
inline constexpr const char* SClassNotFound = "Class %s not found";
inline constexpr const char* SMethodNotFound = "Method %s not found";
inline constexpr const char* SInvalidPropertyType = "Invalid property value";
inline constexpr const char* STooManyItems = "Too many collection items";

// Most items a collection takes from a stream: each costs far more memory
// than the two bytes its record may take, so a hostile stream stays bounded.
inline constexpr int MaxStreamedItems = 65536;

// The root a form is read into names its event handlers, so that an event
// property's identifier binds to the handler of that name.
class TMethodTable {
public:
  template <typename Sig> void Add(const std::string& name, std::function<Sig> handler) {
    FMethods[Key(name)] = std::move(handler);
  }
  template <typename Sig> std::function<Sig> Find(const std::string& name) const {
    auto it = FMethods.find(Key(name));
    if (it == FMethods.end())
      return nullptr;
    if (const auto* f = std::any_cast<std::function<Sig>>(&it->second))
      return *f;
    return nullptr;
  }

private:
  static std::string Key(const std::string& name);
  std::map<std::string, std::any> FMethods;
};

class TReader {
public:
  // Reads from the stream's position on. Binary values of a stream that lies
  // in memory are handed to their readers in place, without a copy.
  explicit TReader(TStream& stream);

  // Reads a whole form into root: its properties, then its children, which
  // it creates through the registry with root as their owner. Every
  // component carries the loading state until the stream has been read, then
  // gets its loaded notification.
  void ReadRootComponent(TComponent* root);
  // Reads one component record; the component is created unless given.
  TComponent* ReadComponent(TComponent* component);

  TComponent* Root() const { return FRoot; }
  TComponent* Parent() const { return FParent; }
  // Handlers for event properties; without a table, events keep only their
  // handler names.
  void SetMethods(const TMethodTable* methods) { FMethods = methods; }
  const TMethodTable* Methods() const { return FMethods; }
  // For tools that want only some classes out of a form: records of
  // unregistered classes (and a root of another class) are passed over, and
  // their children read as if they were the enclosing record's.
  void SetSkipUnknownClasses(bool skip) { FSkipUnknown = skip; }

  TBinaryFormReader& Binary() { return FBinary; }
  TValueType NextValue() { return FBinary.NextValue(); }
  int32_t ReadInteger() { return FBinary.ReadInteger(); }
  std::string ReadString() { return FBinary.ReadString(); }
  std::string ReadIdent() { return FBinary.ReadIdent(); }
  bool ReadBoolean() { return FBinary.ReadBoolean(); }
  std::vector<std::string> ReadSet() { return FBinary.ReadSet(); }
  long double ReadFloat();
  // The bytes of a binary value, as a stream at position 0.
  void ReadBinary(const std::function<void(TStream&)>& read);
  // Items of a collection value: the collection is emptied when the list is
  // not empty and held in update mode meanwhile.
  void ReadCollection(TCollection* collection);
  // Properties of one instance, until the end of the list.
  void ReadProperties(TPersistent* instance, const std::string& instanceName);

private:
  void ReadProperty(TPersistent* instance, const std::string& instanceName);
  // Child records until the end of the list, each told parent encloses it.
  void ReadChildren(TComponent* parent);
  TStream& FStream;
  TBinaryFormReader FBinary;
  TComponent* FRoot = nullptr;
  TComponent* FParent = nullptr;
  const TMethodTable* FMethods = nullptr;
  bool FSkipUnknown = false;
  std::vector<TComponent*> FLoaded;
};

class TWriter {
public:
  explicit TWriter(TStream& stream) : FBinary(stream) {}

  // Signature, then root with its properties and its children.
  void WriteRootComponent(TComponent* root);
  void WriteComponent(TComponent* component);
  void WriteProperties(TPersistent* instance, const std::string& prefix = {});
  void WriteCollection(TCollection* collection);

  TBinaryFormWriter& Binary() { return FBinary; }
  void WriteInteger(int64_t value) { FBinary.WriteInteger(value); }
  void WriteString(const std::string& text) { FBinary.WriteString(text); }
  void WriteIdent(const std::string& name) { FBinary.WriteIdent(name); }
  void WriteBoolean(bool value) { FBinary.WriteBoolean(value); }
  void WriteSet(const std::vector<std::string>& names) { FBinary.WriteSet(names); }

private:
  TBinaryFormWriter FBinary;
  TComponent* FRoot = nullptr;
};

// An enumeration's value from its identifier: the index of names that the
// identifier names, or EReadError.
size_t ReadEnumIndex(TReader& reader, const char* const* names, size_t count);
// Writes an enumeration's value by its name (by number past the names).
void WriteEnumName(TWriter& writer, size_t value, const char* const* names, size_t count);

// Builds a class's entry for the registry from member functions of T.
template <typename T> class TClassBuilder {
public:
  using TReadFn = void (*)(T*, TReader&);
  using TWriteFn = void (*)(T*, TWriter&);
  using TStoredFn = bool (*)(T*);

  TClassBuilder(const char* name, const char* parent) {
    FInfo.Name = name;
    if (parent) {
      FInfo.Parent = FindClassInfo(parent);
      if (!FInfo.Parent)
        throw EClassNotFound(Format(SClassNotFound, parent));
    }
  }

  // Components of the class are created through this factory.
  TClassBuilder& Creatable() {
    FInfo.Create = &New;
    return *this;
  }

  template <typename G, typename S>
  TClassBuilder& Integer(const char* name, G get, S set, std::optional<int64_t> def = {}) {
    const TAccess<G, S> a{get, set, def.value_or(0)};
    return Add(name, {&ReadInteger<G, S>, a}, {&WriteInteger<G, S>, a},
               def ? TStored(&IntegerStored<G, S>, a) : nullptr);
  }

  template <typename G, typename S>
  TClassBuilder& String(const char* name, G get, S set, bool storeEmpty = true) {
    const TAccess<G, S> a{get, set};
    return Add(name, {&ReadString<G, S>, a}, {&WriteString<G, S>, a},
               storeEmpty ? nullptr : TStored(&StringStored<G, S>, a));
  }

  template <typename G, typename S>
  TClassBuilder& Boolean(const char* name, G get, S set, std::optional<bool> def = {}) {
    const TAccess<G, S> a{get, set, def.value_or(false)};
    return Add(name, {&ReadBoolean<G, S>, a}, {&WriteBoolean<G, S>, a},
               def ? TStored(&BooleanStored<G, S>, a) : nullptr);
  }

  // An enumeration stored by value name; names[i] is the name of value i.
  // The names are kept by reference: a static array.
  template <typename G, typename S>
  TClassBuilder& Enum(const char* name, G get, S set, std::span<const char* const> names,
                      std::optional<int> def = {}) {
    const TAccess<G, S> a{get, set, def.value_or(0), names.data(), names.size()};
    return Add(name, {&ReadEnum<G, S>, a}, {&WriteEnum<G, S>, a},
               def ? TStored(&EnumStored<G, S>, a) : nullptr);
  }

  // A property whose value the caller reads and writes itself.
  TClassBuilder& Custom(const char* name, TReadFn read, TWriteFn write,
                        TStoredFn stored = nullptr) {
    const TCustom c{read, write, stored};
    return Add(name, {&ReadCustom, c}, write ? TWrite(&WriteCustom, c) : nullptr,
               stored ? TStored(&CustomStored, c) : nullptr);
  }

  // A sub-object reached by dotted names ("Font.Name").
  template <typename G> TClassBuilder& Object(const char* name, G get) {
    TPropInfo info;
    info.Name = name;
    info.Object = {&SubObject<G>, get};
    FInfo.Published.push_back(std::move(info));
    return *this;
  }

  template <typename G> TClassBuilder& Collection(const char* name, G get) {
    return Add(name, {&ReadCollection<G>, get}, {&WriteCollection<G>, get}, nullptr);
  }

  // An event: an identifier naming the root's handler; written when assigned.
  template <typename Sig> TClassBuilder& Event(const char* name, TEvent<Sig> T::*slot) {
    return Add(name, {&ReadEvent<Sig>, slot}, {&WriteEvent<Sig>, slot},
               TStored(&EventStored<Sig>, slot));
  }

  // A defined binary property, written after the published ones while
  // hasData says so.
  TClassBuilder& Binary(const char* name, void (T::*read)(TStream&), void (T::*write)(TStream&),
                        TStoredFn hasData) {
    const TBinary b{read, write, hasData};
    TPropInfo info;
    info.Name = name;
    info.Read = {&ReadBinaryValue, b};
    info.Write = {&WriteBinaryValue, b};
    info.Stored = {&BinaryStored, b};
    FInfo.Defined.push_back(std::move(info));
    return *this;
  }

  // A defined property of any kind (design positions and the like).
  TClassBuilder& DefinedCustom(const char* name, TReadFn read, TWriteFn write, TStoredFn stored) {
    const TCustom c{read, write, stored};
    TPropInfo info;
    info.Name = name;
    info.Read = {&ReadCustom, c};
    info.Write = {&WriteCustom, c};
    info.Stored = {&CustomStored, c};
    FInfo.Defined.push_back(std::move(info));
    return *this;
  }

  void Register() { RegisterClass(std::move(FInfo)); }

private:
  using TRead = TPropFunction<void(TPersistent*, TReader&)>;
  using TWrite = TPropFunction<void(TPersistent*, TWriter&)>;
  using TStored = TPropFunction<bool(TPersistent*)>;

  // A property's accessors, its default value and an enumeration's names.
  template <typename G, typename S> struct TAccess {
    G Get;
    S Set;
    int64_t Default = 0;
    const char* const* Names = nullptr;
    size_t NameCount = 0;
  };
  struct TCustom {
    TReadFn Read;
    TWriteFn Write;
    TStoredFn Stored;
  };
  struct TBinary {
    void (T::*Read)(TStream&);
    void (T::*Write)(TStream&);
    TStoredFn HasData;
  };

  static T* Cast(TPersistent* p) {
    auto* t = dynamic_cast<T*>(p);
    if (!t)
      throw EReadError(SInvalidPropertyType);
    return t;
  }

  static TComponent* New(TComponent* owner) { return new T(owner); }

  template <typename G, typename S>
  static void ReadInteger(const void* d, TPersistent* p, TReader& r) {
    (Cast(p)->*PropData<TAccess<G, S>>(d).Set)(r.ReadInteger());
  }
  template <typename G, typename S>
  static void WriteInteger(const void* d, TPersistent* p, TWriter& w) {
    w.WriteInteger((Cast(p)->*PropData<TAccess<G, S>>(d).Get)());
  }
  template <typename G, typename S> static bool IntegerStored(const void* d, TPersistent* p) {
    const auto a = PropData<TAccess<G, S>>(d);
    return static_cast<int64_t>((Cast(p)->*a.Get)()) != a.Default;
  }

  template <typename G, typename S>
  static void ReadString(const void* d, TPersistent* p, TReader& r) {
    (Cast(p)->*PropData<TAccess<G, S>>(d).Set)(r.ReadString());
  }
  template <typename G, typename S>
  static void WriteString(const void* d, TPersistent* p, TWriter& w) {
    w.WriteString((Cast(p)->*PropData<TAccess<G, S>>(d).Get)());
  }
  template <typename G, typename S> static bool StringStored(const void* d, TPersistent* p) {
    return !std::string((Cast(p)->*PropData<TAccess<G, S>>(d).Get)()).empty();
  }

  template <typename G, typename S>
  static void ReadBoolean(const void* d, TPersistent* p, TReader& r) {
    (Cast(p)->*PropData<TAccess<G, S>>(d).Set)(r.ReadBoolean());
  }
  template <typename G, typename S>
  static void WriteBoolean(const void* d, TPersistent* p, TWriter& w) {
    w.WriteBoolean((Cast(p)->*PropData<TAccess<G, S>>(d).Get)());
  }
  template <typename G, typename S> static bool BooleanStored(const void* d, TPersistent* p) {
    const auto a = PropData<TAccess<G, S>>(d);
    return bool((Cast(p)->*a.Get)()) != (a.Default != 0);
  }

  template <typename G, typename S>
  static void ReadEnum(const void* d, TPersistent* p, TReader& r) {
    const auto a = PropData<TAccess<G, S>>(d);
    const size_t i = ReadEnumIndex(r, a.Names, a.NameCount);
    T* t = Cast(p);
    using E = std::decay_t<decltype((t->*a.Get)())>;
    (t->*a.Set)(static_cast<E>(i));
  }
  template <typename G, typename S>
  static void WriteEnum(const void* d, TPersistent* p, TWriter& w) {
    const auto a = PropData<TAccess<G, S>>(d);
    WriteEnumName(w, static_cast<size_t>((Cast(p)->*a.Get)()), a.Names, a.NameCount);
  }
  template <typename G, typename S> static bool EnumStored(const void* d, TPersistent* p) {
    const auto a = PropData<TAccess<G, S>>(d);
    return static_cast<int>((Cast(p)->*a.Get)()) != static_cast<int>(a.Default);
  }

  static void ReadCustom(const void* d, TPersistent* p, TReader& r) {
    PropData<TCustom>(d).Read(Cast(p), r);
  }
  static void WriteCustom(const void* d, TPersistent* p, TWriter& w) {
    PropData<TCustom>(d).Write(Cast(p), w);
  }
  static bool CustomStored(const void* d, TPersistent* p) {
    return PropData<TCustom>(d).Stored(Cast(p));
  }

  template <typename G> static TPersistent* SubObject(const void* d, TPersistent* p) {
    return (Cast(p)->*PropData<G>(d))();
  }

  template <typename G> static void ReadCollection(const void* d, TPersistent* p, TReader& r) {
    r.ReadCollection((Cast(p)->*PropData<G>(d))());
  }
  template <typename G> static void WriteCollection(const void* d, TPersistent* p, TWriter& w) {
    w.WriteCollection((Cast(p)->*PropData<G>(d))());
  }

  template <typename Sig> static void ReadEvent(const void* d, TPersistent* p, TReader& r) {
    const std::string handler = r.ReadIdent();
    TEvent<Sig>& event = Cast(p)->*PropData<TEvent<Sig> T::*>(d);
    event.HandlerName = handler;
    if (r.Methods()) {
      event.Handler = r.Methods()->template Find<Sig>(handler);
      if (!event.Handler)
        throw EReadError(Format(SMethodNotFound, handler.c_str()));
    }
  }
  template <typename Sig> static void WriteEvent(const void* d, TPersistent* p, TWriter& w) {
    w.WriteIdent((Cast(p)->*PropData<TEvent<Sig> T::*>(d)).HandlerName);
  }
  template <typename Sig> static bool EventStored(const void* d, TPersistent* p) {
    return !(Cast(p)->*PropData<TEvent<Sig> T::*>(d)).HandlerName.empty();
  }

  static void ReadBinaryValue(const void* d, TPersistent* p, TReader& r) {
    const auto b = PropData<TBinary>(d);
    T* t = Cast(p);
    r.ReadBinary([&](TStream& s) { (t->*b.Read)(s); });
  }
  static void WriteBinaryValue(const void* d, TPersistent* p, TWriter& w) {
    const auto b = PropData<TBinary>(d);
    T* t = Cast(p);
    w.Binary().WriteBinary([&](TStream& s) { (t->*b.Write)(s); });
  }
  static bool BinaryStored(const void* d, TPersistent* p) {
    return PropData<TBinary>(d).HasData(Cast(p));
  }

  TClassBuilder& Add(const char* name, TRead read, TWrite write, TStored stored) {
    TPropInfo info;
    info.Name = name;
    info.Read = read;
    info.Write = write;
    info.Stored = stored;
    FInfo.Published.push_back(std::move(info));
    return *this;
  }

  TClassInfo FInfo;
};

// The runtime's own classes: TPersistent, TComponent (with its Tag and design
// position), TCollection and TCollectionItem.
void RegisterRuntimeClasses();

} // namespace rtl
