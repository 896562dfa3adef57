// qlxform: compiles text forms to binary form streams and shows what a binary
// form stream, or an executable carrying one as RCDATA "TFORM1", holds.
//
//   qlxform compile FORM.txt -o FORM.bin
//   qlxform dump FILE
//   qlxform list FILE
//   qlxform extract FILE -d DIR
//   qlxform --help               usage and the limits on hostile files
//
// Exit status 0 on success; on failure one line "qlxform: <file>: <message>"
// on stderr and status 1.

#include "mx/mxStorage.h"
#include "rtl/AtomicFile.h"
#include "rtl/Filer.h"
#include "rtl/FormBinary.h"
#include "rtl/FormText.h"
#include "rtl/PEResource.h"
#include "rtl/Streams.h"
#include "rtl/SysUtils.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

const char* const Usage = "usage: qlxform compile FORM.txt -o FORM.bin\n"
                          "       qlxform dump FILE\n"
                          "       qlxform list FILE\n"
                          "       qlxform extract FILE -d DIR\n"
                          "       qlxform --help\n";

// What qlxform takes from a file of unknown origin, and what that costs.
const char* const Limits =
    "\n"
    "FILE is a binary form stream or a Windows program carrying one as RCDATA\n"
    "\"TFORM1\"; the whole stream must be the form.\n"
    "\n"
    "Limits, for files from anywhere:\n"
    "  files       at most 2 GB\n"
    "  nesting     objects, lists and collections at most 256 levels deep\n"
    "  dump        streams its text: memory about the file's size plus three times\n"
    "              its largest single value; time in proportion to the text\n"
    "  list        build the stores: at most 65,536 items per collection, about\n"
    "  extract     1 KB of memory per store and per item beside the compressed data;\n"
    "              naming the items costs n log n; other objects are skipped unbuilt\n"
    "  compile     reads the whole text form and the files it names into memory\n";

const char* const FormResourceName = "TFORM1";

// Raised for a failure that names its own file.
struct TToolError {
  std::string File;
  std::string Message;
};

std::vector<uint8_t> ReadWholeFile(const std::string& fileName) {
  rtl::TFileStream file(fileName, rtl::TFileMode::fmOpenRead);
  const int64_t size = file.Size();
  if (size > 0x7FFFFFFF)
    throw rtl::EReadError("File too large");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (size > 0)
    file.ReadBuffer(bytes.data(), static_cast<int32_t>(size));
  return bytes;
}

// The form stream in fileName: the file itself, or its RCDATA "TFORM1".
struct TFormSource {
  std::vector<uint8_t> File;
  size_t Offset = 0;
  size_t Size = 0;
};

TFormSource LoadFormSource(const std::string& fileName) {
  TFormSource source;
  source.File = ReadWholeFile(fileName);
  source.Size = source.File.size();
  if (rtl::IsPEImage(source.File.data(), source.File.size())) {
    const auto span = rtl::FindPEResource(source.File.data(), source.File.size(), rtl::RT_RCDATA_ID,
                                          FormResourceName);
    if (!span)
      throw rtl::EFilerError(std::string("No RCDATA resource ") + FormResourceName);
    source.Offset = span->Offset;
    source.Size = span->Size;
  }
  return source;
}

void WriteOut(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
    throw TToolError{"stdout", "write failed"};
}

// Streams the text: a first pass checks the whole form, so that a bad one
// prints nothing, and the second writes it out piece by piece.
int Dump(const std::string& fileName) {
  const TFormSource source = LoadFormSource(fileName);
  rtl::TReadOnlyMemoryStream form(source.File.data() + source.Offset, source.Size);
  rtl::FormStreamToText(form, [](const std::string&) {});
  // The whole stream must be the form: bytes after it would not survive a
  // dump and compile.
  if (form.Position() != form.Size())
    throw rtl::EFilerError(rtl::Format("%lld bytes after the end of the form",
                                       static_cast<long long>(form.Size() - form.Position())));
  form.SetPosition(0);
  rtl::FormStreamToText(form, WriteOut);
  if (std::fflush(stdout) != 0)
    throw TToolError{"stdout", "write failed"};
  return 0;
}

// ---- the stores of a form, through the component model

// Stands in for whatever form holds the stores: its own records are passed
// over, and only the stores are built.
class TFormHost : public rtl::TComponent {
public:
  using rtl::TComponent::TComponent;
  const char* ClassName() const override { return "TQlxFormHost"; }
};

void RegisterClasses() {
  mx::RegisterStorageClasses();
  if (!rtl::FindClassInfo("TQlxFormHost"))
    rtl::TClassBuilder<TFormHost>("TQlxFormHost", "TComponent").Register();
}

// Reads a stream through a buffer: the form reader takes a byte at a time,
// which would otherwise cost a system call or two per byte of a file.
class TBufferedReader : public rtl::TStream {
public:
  explicit TBufferedReader(rtl::TStream& base) : FBase(base), FSize(base.Size()) {}
  int32_t Read(void* buffer, int32_t count) override {
    auto* out = static_cast<uint8_t*>(buffer);
    int32_t done = 0;
    while (done < count && FPosition < FSize) {
      if (FPosition < FStart || FPosition >= FStart + static_cast<int64_t>(FBuffer.size()))
        Fill();
      const int64_t at = FPosition - FStart;
      const int32_t n = static_cast<int32_t>(
          std::min<int64_t>(count - done, static_cast<int64_t>(FBuffer.size()) - at));
      if (n <= 0)
        break;
      std::memcpy(out + done, FBuffer.data() + at, static_cast<size_t>(n));
      done += n;
      FPosition += n;
    }
    return done;
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t offset, rtl::TSeekOrigin origin) override {
    const int64_t base = origin == rtl::TSeekOrigin::soBeginning ? 0
                         : origin == rtl::TSeekOrigin::soCurrent ? FPosition
                                                                 : FSize;
    FPosition = base + offset;
    return FPosition;
  }
  int64_t Size() override { return FSize; }

private:
  void Fill() {
    FStart = FPosition;
    FBuffer.resize(static_cast<size_t>(std::min<int64_t>(65536, FSize - FPosition)));
    FBase.SetPosition(FStart);
    FBase.ReadBuffer(FBuffer.data(), static_cast<int32_t>(FBuffer.size()));
  }

  rtl::TStream& FBase;
  int64_t FSize;
  int64_t FPosition = 0;
  int64_t FStart = 0;
  std::vector<uint8_t> FBuffer;
};

// Reads every store of a form stream into host, without holding the stream
// in memory: binary values are read from the file where they lie.
void LoadStores(rtl::TStream& form, TFormHost& host) {
  RegisterClasses();
  rtl::TReader reader(form);
  reader.SetSkipUnknownClasses(true);
  reader.ReadRootComponent(&host);
}

// Where the form stream lies in a file: the whole file, or its RCDATA.
struct TFormSpan {
  int64_t Offset = 0;
  int64_t Size = 0;
};

TFormSpan LocateForm(const std::string& fileName) {
  rtl::TFileStream file(fileName, rtl::TFileMode::fmOpenRead);
  uint8_t head[2] = {};
  const int64_t size = file.Size();
  if (file.Read(head, 2) == 2 && head[0] == 'M' && head[1] == 'Z') {
    const TFormSource source = LoadFormSource(fileName);
    return {static_cast<int64_t>(source.Offset), static_cast<int64_t>(source.Size)};
  }
  return {0, size};
}

std::vector<mx::TmxStorage*> StoresOf(TFormHost& host) {
  std::vector<mx::TmxStorage*> stores;
  for (int i = 0; i < host.ComponentCount(); ++i)
    if (auto* store = dynamic_cast<mx::TmxStorage*>(host.Components(i)))
      stores.push_back(store);
  return stores;
}

const char* CompressionName(rtl::TCompressionLevel level) {
  static const char* const names[] = {"clNone", "clFastest", "clDefault", "clMax"};
  const auto i = static_cast<size_t>(level);
  return i < 4 ? names[i] : "?";
}

int List(const std::string& fileName) {
  const TFormSpan span = LocateForm(fileName);
  rtl::TFileStream file(fileName, rtl::TFileMode::fmOpenRead);
  rtl::TStreamView view(file, span.Offset, span.Size);
  TBufferedReader form(view);
  TFormHost host(nullptr);
  LoadStores(form, host);
  std::string out = "Name\tFileName\tFileSize\tSize\tRatio\tCompression\n";
  for (mx::TmxStorage* store : StoresOf(host))
    for (int i = 0; i < store->StoredItems()->Count(); ++i) {
      mx::TmxStoredItem* item = store->GetStoredItem(i);
      out += rtl::Format("%s\t%s\t%d\t%d\t%s\t%s\n", item->Name().c_str(), item->FileName().c_str(),
                         item->FileSize(), item->Size(), item->Ratio().c_str(),
                         CompressionName(item->Compression()));
    }
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
    throw TToolError{"stdout", "write failed"};
  return 0;
}

int Extract(const std::string& fileName, const std::string& dir) {
  const TFormSpan span = LocateForm(fileName);
  rtl::TFileStream file(fileName, rtl::TFileMode::fmOpenRead);
  rtl::TStreamView view(file, span.Offset, span.Size);
  TBufferedReader form(view);
  TFormHost host(nullptr);
  LoadStores(form, host);
  // Loading took only names that stay inside a folder, but an item that was
  // never named has nothing to be written as: refused before anything is.
  for (mx::TmxStorage* store : StoresOf(host))
    for (int i = 0; i < store->StoredItems()->Count(); ++i)
      if (!mx::IsPlainFileName(store->GetStoredItem(i)->FileName()))
        throw rtl::EFilerError(rtl::Format("Stored item %s of %s has no file name",
                                           store->GetStoredItem(i)->Name().c_str(),
                                           store->Name().c_str()));
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec)
    throw TToolError{dir, ec.message()};
  for (mx::TmxStorage* store : StoresOf(host))
    for (int i = 0; i < store->StoredItems()->Count(); ++i) {
      mx::TmxStoredItem* item = store->GetStoredItem(i);
      item->ExtractToFile((std::filesystem::path(dir) / item->FileName()).string());
    }
  return 0;
}

// ---- compile

// Takes each item's `Content` out of a store record; null where none.
std::vector<std::optional<rtl::TFormValue>> TakeContents(rtl::TFormObject& store) {
  std::vector<std::optional<rtl::TFormValue>> contents;
  rtl::TFormProperty* items = store.FindProperty("StoredItems");
  if (!items)
    return contents;
  for (rtl::TFormItem& item : items->Value.Items) {
    std::optional<rtl::TFormValue> content;
    auto& props = item.Properties;
    for (auto it = props.begin(); it != props.end(); ++it)
      if (rtl::SameText(it->Name, "Content")) {
        content = std::move(it->Value);
        props.erase(it);
        break;
      }
    contents.push_back(std::move(content));
  }
  return contents;
}

// An item's content: a file, streamed, or bytes given in the text.
void FillItem(mx::TmxStorage& store, mx::TmxStoredItem& item, const rtl::TFormValue& content) {
  std::unique_ptr<rtl::TStream> source;
  if (!content.SourceFile.empty()) {
    source = std::make_unique<rtl::TFileStream>(content.SourceFile, rtl::TFileMode::fmOpenRead);
  } else if (content.Type == rtl::TValueType::vaBinary) {
    auto memory = std::make_unique<rtl::TMemoryStream>();
    if (!content.Bytes.empty())
      memory->WriteBuffer(content.Bytes.data(), static_cast<int32_t>(content.Bytes.size()));
    source = std::move(memory);
  } else {
    throw rtl::EFilerError("Content must be binary data or file '...'");
  }
  item.LoadFromStream(source.get());
  if (item.Compression() == rtl::TCompressionLevel::clNone) {
    // Bare content carries no length of its own: record it as the file size.
    store.BeginLoading();
    item.SetFileSize(static_cast<int32_t>(source->Size()));
    store.EndLoading();
  }
}

// A store record whose items name their content: built into a real store,
// filled through each item's own LoadFromStream, and written back by the
// store itself, so sizes, ratios and records are what the store computes.
void PrepareStore(rtl::TFormObject& record) {
  auto contents = TakeContents(record);
  // A record without contents is kept byte for byte, so dump and compile
  // give back any stream.
  if (std::none_of(contents.begin(), contents.end(), [](const auto& c) { return c.has_value(); }))
    return;
  rtl::TFormObject hostTree;
  hostTree.ClassName = "TQlxFormHost";
  hostTree.Children.push_back(record);
  hostTree.Children.back().HasPrefix = false;
  const std::vector<uint8_t> bytes = rtl::WriteForm(hostTree);

  TFormHost host(nullptr);
  rtl::TReadOnlyMemoryStream in(bytes.data(), bytes.size());
  LoadStores(in, host);
  mx::TmxStorage* store = StoresOf(host).at(0);
  for (size_t i = 0; i < contents.size(); ++i)
    if (contents[i])
      FillItem(*store, *store->GetStoredItem(static_cast<int32_t>(i)), *contents[i]);

  rtl::TMemoryStream out;
  rtl::TWriter writer(out);
  writer.WriteRootComponent(&host);
  rtl::TFormObject written = rtl::ReadForm(out.Bytes());
  rtl::TFormObject& fresh = written.Children.at(0);
  fresh.HasPrefix = record.HasPrefix;
  fresh.Prefix = record.Prefix;
  fresh.ChildPosType = record.ChildPosType;
  fresh.ChildPos = record.ChildPos;
  fresh.Children = std::move(record.Children);
  record = std::move(fresh);
}

void PrepareStores(rtl::TFormObject& object) {
  if (rtl::SameText(object.ClassName, "TmxStorage"))
    PrepareStore(object);
  for (rtl::TFormObject& child : object.Children)
    PrepareStores(child);
}

// Binary values the text took from files, other than stored contents.
void LoadFileValues(rtl::TFormValue& value) {
  if (value.Type == rtl::TValueType::vaBinary && !value.SourceFile.empty()) {
    value.Bytes = ReadWholeFile(value.SourceFile);
    value.SourceFile.clear();
  }
  for (auto& v : value.List)
    LoadFileValues(v);
  for (auto& item : value.Items)
    for (auto& p : item.Properties)
      LoadFileValues(p.Value);
}

void LoadFileValues(rtl::TFormObject& object) {
  for (auto& p : object.Properties)
    LoadFileValues(p.Value);
  for (auto& child : object.Children)
    LoadFileValues(child);
}

int Compile(const std::string& textFile, const std::string& outFile) {
  rtl::TFormObject root = rtl::LoadFormText(textFile, false);
  PrepareStores(root);
  LoadFileValues(root);
  const std::vector<uint8_t> bytes = rtl::WriteForm(root);
  try {
    // A failed write leaves no half form behind.
    rtl::TAtomicFileStream out(outFile);
    out.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    out.Commit();
  } catch (const rtl::Exception& e) {
    throw TToolError{outFile, e.Message()};
  }
  return 0;
}

int Run(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    WriteOut(std::string(Usage) + Limits);
    if (std::fflush(stdout) != 0)
      throw TToolError{"stdout", "write failed"};
    return 0;
  }
  if (args.size() == 2 && args[0] == "dump")
    return Dump(args[1]);
  if (args.size() == 4 && args[0] == "compile" && args[2] == "-o")
    return Compile(args[1], args[3]);
  if (args.size() == 2 && args[0] == "list")
    return List(args[1]);
  if (args.size() == 4 && args[0] == "extract" && args[2] == "-d")
    return Extract(args[1], args[3]);
  std::fputs(Usage, stderr);
  return 1;
}

} // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The file a failure is reported against: the command's input.
  const std::string input = args.size() >= 2 ? args[1] : "qlxform";
  try {
    return Run(args);
  } catch (const TToolError& e) {
    std::fprintf(stderr, "qlxform: %s: %s\n", e.File.c_str(), e.Message.c_str());
  } catch (const rtl::Exception& e) {
    std::fprintf(stderr, "qlxform: %s: %s\n", input.c_str(), e.Message().c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "qlxform: %s: out of memory\n", input.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qlxform: %s: %s\n", input.c_str(), e.what());
  }
  return 1;
}
