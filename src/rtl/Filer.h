// The component model's filer: a registry of classes with their published
// properties in order, and the reader and writer that move components between
// objects and binary form streams.
#pragma once

#include "Classes.h"
#include "FormBinary.h"
#include "SysUtils.h"

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rtl {

class TReader;
class TWriter;

// One property as the filer sees it.
struct TPropInfo {
  std::string Name;
  // Reads one value from the stream and sets it on the instance.
  std::function<void(TPersistent*, TReader&)> Read;
  // Writes the value (the name is already written); null: never written.
  std::function<void(TPersistent*, TWriter&)> Write;
  // Whether the writer writes the property for this instance.
  std::function<bool(TPersistent*)> Stored;
  // A sub-object (a font) whose own properties are reached by dotted names.
  std::function<TPersistent*(TPersistent*)> Object;
};

// A class: its name, its ancestor, how to create a component of it, its
// published properties in order and the properties it defines itself, which
// the writer writes after every published one.
struct TClassInfo {
  std::string Name;
  const TClassInfo* Parent = nullptr;
  std::function<TComponent*(TComponent* owner)> Create;
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
  int FDepth = 0;
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

// Builds a class's entry for the registry from member functions of T.
template <typename T> class TClassBuilder {
public:
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
    FInfo.Create = [](TComponent* owner) -> TComponent* { return new T(owner); };
    return *this;
  }

  template <typename G, typename S>
  TClassBuilder& Integer(const char* name, G get, S set, std::optional<int64_t> def = {}) {
    return Add(
        name, [=](TPersistent* p, TReader& r) { (Cast(p)->*set)(r.ReadInteger()); },
        [=](TPersistent* p, TWriter& w) { w.WriteInteger((Cast(p)->*get)()); },
        def ? std::function<bool(TPersistent*)>(
                  [=](TPersistent* p) { return static_cast<int64_t>((Cast(p)->*get)()) != *def; })
            : nullptr);
  }

  template <typename G, typename S>
  TClassBuilder& String(const char* name, G get, S set, bool storeEmpty = true) {
    return Add(
        name, [=](TPersistent* p, TReader& r) { (Cast(p)->*set)(r.ReadString()); },
        [=](TPersistent* p, TWriter& w) { w.WriteString((Cast(p)->*get)()); },
        storeEmpty ? nullptr : std::function<bool(TPersistent*)>([=](TPersistent* p) {
          return !std::string((Cast(p)->*get)()).empty();
        }));
  }

  template <typename G, typename S>
  TClassBuilder& Boolean(const char* name, G get, S set, std::optional<bool> def = {}) {
    return Add(
        name, [=](TPersistent* p, TReader& r) { (Cast(p)->*set)(r.ReadBoolean()); },
        [=](TPersistent* p, TWriter& w) { w.WriteBoolean((Cast(p)->*get)()); },
        def ? std::function<bool(TPersistent*)>(
                  [=](TPersistent* p) { return bool((Cast(p)->*get)()) != *def; })
            : nullptr);
  }

  // An enumeration stored by value name; names[i] is the name of value i.
  template <typename G, typename S>
  TClassBuilder& Enum(const char* name, G get, S set, std::span<const char* const> names,
                      std::optional<int> def = {}) {
    std::vector<std::string> list(names.begin(), names.end());
    return Add(
        name,
        [=](TPersistent* p, TReader& r) {
          const std::string ident = r.ReadIdent();
          for (size_t i = 0; i < list.size(); ++i)
            if (SameText(list[i], ident)) {
              using E = std::decay_t<decltype((Cast(p)->*get)())>;
              (Cast(p)->*set)(static_cast<E>(i));
              return;
            }
          throw EReadError(SInvalidPropertyType);
        },
        [=](TPersistent* p, TWriter& w) {
          const auto v = static_cast<size_t>((Cast(p)->*get)());
          w.WriteIdent(v < list.size() ? list[v] : std::to_string(v));
        },
        def ? std::function<bool(TPersistent*)>(
                  [=](TPersistent* p) { return static_cast<int>((Cast(p)->*get)()) != *def; })
            : nullptr);
  }

  // A property whose value the caller reads and writes itself.
  TClassBuilder& Custom(const char* name, std::function<void(T*, TReader&)> read,
                        std::function<void(T*, TWriter&)> write,
                        std::function<bool(T*)> stored = nullptr) {
    return Add(
        name, [=](TPersistent* p, TReader& r) { read(Cast(p), r); },
        write ? std::function<void(TPersistent*, TWriter&)>(
                    [=](TPersistent* p, TWriter& w) { write(Cast(p), w); })
              : nullptr,
        stored ? std::function<bool(TPersistent*)>([=](TPersistent* p) { return stored(Cast(p)); })
               : nullptr);
  }

  // A sub-object reached by dotted names ("Font.Name").
  template <typename G> TClassBuilder& Object(const char* name, G get) {
    TPropInfo info;
    info.Name = name;
    info.Object = [=](TPersistent* p) -> TPersistent* { return (Cast(p)->*get)(); };
    FInfo.Published.push_back(std::move(info));
    return *this;
  }

  template <typename G> TClassBuilder& Collection(const char* name, G get) {
    return Add(
        name, [=](TPersistent* p, TReader& r) { r.ReadCollection((Cast(p)->*get)()); },
        [=](TPersistent* p, TWriter& w) { w.WriteCollection((Cast(p)->*get)()); }, nullptr);
  }

  // An event: an identifier naming the root's handler; written when assigned.
  template <typename Sig> TClassBuilder& Event(const char* name, TEvent<Sig> T::*slot) {
    return Add(
        name,
        [=](TPersistent* p, TReader& r) {
          const std::string handler = r.ReadIdent();
          TEvent<Sig>& event = Cast(p)->*slot;
          event.HandlerName = handler;
          if (r.Methods()) {
            event.Handler = r.Methods()->template Find<Sig>(handler);
            if (!event.Handler)
              throw EReadError(Format(SMethodNotFound, handler.c_str()));
          }
        },
        [=](TPersistent* p, TWriter& w) { w.WriteIdent((Cast(p)->*slot).HandlerName); },
        [=](TPersistent* p) { return !(Cast(p)->*slot).HandlerName.empty(); });
  }

  // A defined binary property, written after the published ones while
  // hasData says so.
  TClassBuilder& Binary(const char* name, void (T::*read)(TStream&), void (T::*write)(TStream&),
                        std::function<bool(T*)> hasData) {
    TPropInfo info;
    info.Name = name;
    info.Read = [=](TPersistent* p, TReader& r) {
      r.ReadBinary([&](TStream& s) { (Cast(p)->*read)(s); });
    };
    info.Write = [=](TPersistent* p, TWriter& w) {
      w.Binary().WriteBinary([&](TStream& s) { (Cast(p)->*write)(s); });
    };
    info.Stored = [=](TPersistent* p) { return hasData(Cast(p)); };
    FInfo.Defined.push_back(std::move(info));
    return *this;
  }

  // A defined property of any kind (design positions and the like).
  TClassBuilder& DefinedCustom(const char* name, std::function<void(T*, TReader&)> read,
                               std::function<void(T*, TWriter&)> write,
                               std::function<bool(T*)> stored) {
    TPropInfo info;
    info.Name = name;
    info.Read = [=](TPersistent* p, TReader& r) { read(Cast(p), r); };
    info.Write = [=](TPersistent* p, TWriter& w) { write(Cast(p), w); };
    info.Stored = [=](TPersistent* p) { return stored(Cast(p)); };
    FInfo.Defined.push_back(std::move(info));
    return *this;
  }

  void Register() { RegisterClass(std::move(FInfo)); }

private:
  static T* Cast(TPersistent* p) {
    auto* t = dynamic_cast<T*>(p);
    if (!t)
      throw EReadError(SInvalidPropertyType);
    return t;
  }

  TClassBuilder& Add(const char* name, std::function<void(TPersistent*, TReader&)> read,
                     std::function<void(TPersistent*, TWriter&)> write,
                     std::function<bool(TPersistent*)> stored) {
    TPropInfo info;
    info.Name = name;
    info.Read = std::move(read);
    info.Write = std::move(write);
    info.Stored = std::move(stored);
    FInfo.Published.push_back(std::move(info));
    return *this;
  }

  TClassInfo FInfo;
};

// The runtime's own classes: TPersistent, TComponent (with its Tag and design
// position), TCollection and TCollectionItem.
void RegisterRuntimeClasses();

} // namespace rtl
