#include "AtomicFile.h"

#include "FileHandleIo.h"

#include "SysUtils.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rtl {

namespace {

[[noreturn]] void CreateError(const std::string& target, uint32_t code) {
  throw EFCreateError(
      Format(SFCreateErrorEx, ExpandFileName(target).c_str(), SysErrorMessage(code).c_str()));
}

#ifdef _WIN32

struct THandleOwner {
  HANDLE H = INVALID_HANDLE_VALUE;
  THandleOwner() = default;
  THandleOwner(const THandleOwner&) = delete;
  THandleOwner& operator=(const THandleOwner&) = delete;
  ~THandleOwner() { Close(); }
  void Close() {
    if (H != INVALID_HANDLE_VALUE)
      CloseHandle(H);
    H = INVALID_HANDLE_VALUE;
  }
};

#else

struct THandleOwner {
  int H = -1;
  THandleOwner() = default;
  THandleOwner(const THandleOwner&) = delete;
  THandleOwner& operator=(const THandleOwner&) = delete;
  ~THandleOwner() { Close(); }
  void Close() {
    if (H >= 0)
      ::close(H);
    H = -1;
  }
};

#endif

} // namespace

struct TAtomicFileStream::TState {
  std::string Target;
  std::string Temp;
  THandleOwner Lock; // the target, held without sharing
  THandleOwner File; // the temporary file
  bool CreatedTarget = false;
  bool Committed = false;
};

#ifdef _WIN32

TAtomicFileStream::TAtomicFileStream(const std::string& target)
    : FState(std::make_unique<TState>()) {
  FState->Target = target;
  // Opening the target first gives the same error as creating it would
  // (missing folder, file in use, no right) without truncating it.
  FState->Lock.H = CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (FState->Lock.H == INVALID_HANDLE_VALUE)
    CreateError(target, GetLastError());
  FState->CreatedTarget = GetLastError() != ERROR_ALREADY_EXISTS;
  for (unsigned n = GetCurrentProcessId() & 0xFFFF, i = 0; i < 100; ++i, ++n) {
    std::string temp = target + Format(".~%04x.tmp", n);
    FState->File.H = CreateFileA(temp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FState->File.H != INVALID_HANDLE_VALUE) {
      FState->Temp = temp;
      return;
    }
    if (GetLastError() != ERROR_FILE_EXISTS)
      break;
  }
  const DWORD code = GetLastError();
  FState->Lock.Close();
  if (FState->CreatedTarget)
    DeleteFileA(target.c_str());
  CreateError(target, code);
}

TAtomicFileStream::~TAtomicFileStream() {
  if (FState->Committed)
    return;
  FState->File.Close();
  if (!FState->Temp.empty())
    DeleteFileA(FState->Temp.c_str());
  FState->Lock.Close();
  if (FState->CreatedTarget)
    DeleteFileA(FState->Target.c_str());
}

void TAtomicFileStream::Commit() {
  FState->File.Close();
  FState->Lock.Close();
  if (!MoveFileExA(FState->Temp.c_str(), FState->Target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    CreateError(FState->Target, GetLastError());
  FState->Committed = true;
}

#else

TAtomicFileStream::TAtomicFileStream(const std::string& target)
    : FState(std::make_unique<TState>()) {
  FState->Target = target;
  FState->Lock.H = ::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (FState->Lock.H >= 0) {
    FState->CreatedTarget = true;
  } else {
    if (errno == EEXIST)
      FState->Lock.H = ::open(target.c_str(), O_RDWR | O_CLOEXEC);
    if (FState->Lock.H < 0)
      CreateError(target, static_cast<uint32_t>(errno));
  }
  std::string pattern = target + ".~XXXXXX";
  FState->File.H = ::mkstemp(pattern.data());
  if (FState->File.H < 0) {
    const int code = errno;
    FState->Lock.Close();
    if (FState->CreatedTarget)
      ::unlink(target.c_str());
    CreateError(target, static_cast<uint32_t>(code));
  }
  ::fchmod(FState->File.H, 0644);
  FState->Temp = pattern;
}

TAtomicFileStream::~TAtomicFileStream() {
  if (FState->Committed)
    return;
  FState->File.Close();
  if (!FState->Temp.empty())
    ::unlink(FState->Temp.c_str());
  FState->Lock.Close();
  if (FState->CreatedTarget)
    ::unlink(FState->Target.c_str());
}

void TAtomicFileStream::Commit() {
  FState->File.Close();
  FState->Lock.Close();
  if (::rename(FState->Temp.c_str(), FState->Target.c_str()) != 0)
    CreateError(FState->Target, static_cast<uint32_t>(errno));
  FState->Committed = true;
}

#endif

int32_t TAtomicFileStream::Read(void* buffer, int32_t count) {
  return FileRead(FState->File.H, buffer, count);
}

int32_t TAtomicFileStream::Write(const void* buffer, int32_t count) {
  return FileWrite(FState->File.H, buffer, count);
}

int64_t TAtomicFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  return FileSeek(FState->File.H, offset, origin);
}

} // namespace rtl
