// qlxform: compiles text forms to binary form streams and shows what a binary
// form stream, or an executable carrying one as RCDATA "TFORM1", holds.
//
//   qlxform compile FORM.txt -o FORM.bin
//   qlxform dump FILE
//
// Exit status 0 on success; on failure one line "qlxform: <file>: <message>"
// on stderr and status 1.

#include "rtl/AtomicFile.h"
#include "rtl/FormBinary.h"
#include "rtl/FormText.h"
#include "rtl/PEResource.h"
#include "rtl/Streams.h"
#include "rtl/SysUtils.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

const char* const Usage = "usage: qlxform compile FORM.txt -o FORM.bin\n"
                          "       qlxform dump FILE\n";

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

// The whole stream must be the form: bytes after it would not survive a
// dump and compile.
rtl::TFormObject ReadWholeForm(const TFormSource& source) {
  size_t used = 0;
  rtl::TFormObject root = rtl::ReadForm(source.File.data() + source.Offset, source.Size, &used);
  if (used != source.Size)
    throw rtl::EFilerError(rtl::Format("%zu bytes after the end of the form", source.Size - used));
  return root;
}

int Dump(const std::string& fileName) {
  const std::string text = rtl::FormToText(ReadWholeForm(LoadFormSource(fileName)));
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    throw TToolError{"stdout", "write failed"};
  return 0;
}

// ---- compile

// Hook for the store's bridge: an item's `Content = file '...'` becomes its
// "StoredItem" record and computed values here. For now the tree is kept as
// parsed.
void PrepareStores(rtl::TFormObject& /*root*/) {}

int Compile(const std::string& textFile, const std::string& outFile) {
  rtl::TFormObject root = rtl::LoadFormText(textFile);
  PrepareStores(root);
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

// ---- commands to come: `list FILE` and `extract FILE -d DIR` load the form's
// stores through the component model and go here.

int Run(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "dump")
    return Dump(args[1]);
  if (args.size() == 4 && args[0] == "compile" && args[2] == "-o")
    return Compile(args[1], args[3]);
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
