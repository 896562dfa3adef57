#include "Streams.h"

#include "FileHandleIo.h"

#include "SysUtils.h"

#include <algorithm>
#include <climits>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rtl {

namespace {

// Where a seek of a stream that keeps its own position lands.
int64_t SeekTarget(int64_t position, int64_t size, int64_t offset, TSeekOrigin origin) {
  switch (origin) {
  case TSeekOrigin::soBeginning:
    return offset;
  case TSeekOrigin::soCurrent:
    return position + offset;
  case TSeekOrigin::soEnd:
    return size + offset;
  }
  return position;
}

} // namespace

int64_t TStream::Size() {
  const int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t) {
  throw EStreamError(SInvalidStreamOp);
}

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count)
    throw EReadError(SReadError);
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count != 0 && Write(buffer, count) != count)
    throw EWriteError(SWriteError);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const int64_t result = count;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, MaxBufSize)));
  while (count > 0) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, MaxBufSize));
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    count -= n;
  }
  return result;
}

// --- TMemoryStream ---

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || FPosition >= Size())
    return 0;
  const int64_t n = std::min<int64_t>(count, Size() - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0 || FPosition < 0)
    return 0;
  const int64_t end = FPosition + count;
  if (end > INT32_MAX)
    return 0;
  if (end > Size())
    FData.resize(static_cast<size_t>(end));
  std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  return FPosition = SeekTarget(FPosition, Size(), offset, origin);
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0 || newSize > INT32_MAX)
    throw EStreamError(SInvalidStreamOp);
  FData.resize(static_cast<size_t>(newSize));
  if (FPosition > newSize)
    FPosition = newSize;
}

void TMemoryStream::Clear() {
  std::vector<uint8_t>().swap(FData);
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
  source.SetPosition(0);
  const int64_t n = source.Size();
  SetSize(n);
  FPosition = 0;
  if (n != 0)
    source.ReadBuffer(FData.data(), static_cast<int32_t>(n));
}

void TMemoryStream::SaveToStream(TStream& dest) {
  if (!FData.empty())
    dest.WriteBuffer(FData.data(), static_cast<int32_t>(FData.size()));
}

// --- TReadOnlyMemoryStream ---

int32_t TReadOnlyMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || FPosition < 0 || FPosition >= FSize)
    return 0;
  const int64_t n = std::min<int64_t>(count, FSize - FPosition);
  std::memcpy(buffer, FData + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return static_cast<int32_t>(n);
}

int32_t TReadOnlyMemoryStream::Write(const void*, int32_t) {
  return 0;
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  return FPosition = SeekTarget(FPosition, FSize, offset, origin);
}

// --- TStreamView ---

int32_t TStreamView::Read(void* buffer, int32_t count) {
  if (count <= 0 || FPosition < 0 || FPosition >= FSize)
    return 0;
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, FSize - FPosition));
  if (FBase.Seek(FStart + FPosition, TSeekOrigin::soBeginning) != FStart + FPosition)
    return 0;
  const int32_t got = FBase.Read(buffer, n);
  FPosition += got > 0 ? got : 0;
  return got > 0 ? got : 0;
}

int32_t TStreamView::Write(const void*, int32_t) {
  return 0;
}

int64_t TStreamView::Seek(int64_t offset, TSeekOrigin origin) {
  return FPosition = SeekTarget(FPosition, FSize, offset, origin);
}

// --- TFileStream ---

std::string ExpandFileName(const std::string& fileName) {
#ifdef _WIN32
  char buf[MAX_PATH * 2];
  const DWORD n = GetFullPathNameA(fileName.c_str(), sizeof buf, buf, nullptr);
  return (n > 0 && n < sizeof buf) ? std::string(buf, n) : fileName;
#else
  if (!fileName.empty() && fileName[0] == '/')
    return fileName;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd))
    return fileName;
  return std::string(cwd) + "/" + fileName;
#endif
}

#ifdef _WIN32

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : FFileName(fileName) {
  if (mode == TFileMode::fmCreate) {
    FHandle = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FHandle == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      throw EFCreateError(
          Format(SFCreateErrorEx, ExpandFileName(fileName).c_str(), SysErrorMessage(code).c_str()));
    }
  } else {
    FHandle = CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FHandle == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      throw EFOpenError(Format("Cannot open file \"%s\". %s", ExpandFileName(fileName).c_str(),
                               SysErrorMessage(code).c_str()));
    }
  }
}

TFileStream::~TFileStream() {
  if (FHandle != INVALID_HANDLE_VALUE)
    CloseHandle(FHandle);
}

void TFileStream::SetSize(int64_t newSize) {
  SetPosition(newSize);
  if (!SetEndOfFile(FHandle))
    throw EStreamError(SysErrorMessage(GetLastError()));
}

#else

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : FFileName(fileName) {
  if (mode == TFileMode::fmCreate) {
    FHandle = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (FHandle < 0) {
      const int code = errno;
      throw EFCreateError(Format(SFCreateErrorEx, ExpandFileName(fileName).c_str(),
                                 SysErrorMessage(static_cast<uint32_t>(code)).c_str()));
    }
  } else {
    FHandle = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (FHandle < 0) {
      const int code = errno;
      throw EFOpenError(Format("Cannot open file \"%s\". %s", ExpandFileName(fileName).c_str(),
                               SysErrorMessage(static_cast<uint32_t>(code)).c_str()));
    }
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0)
    ::close(FHandle);
}

void TFileStream::SetSize(int64_t newSize) {
  if (::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0)
    throw EStreamError(SysErrorMessage(static_cast<uint32_t>(errno)));
  SetPosition(newSize);
}

#endif

int32_t TFileStream::Read(void* buffer, int32_t count) {
  return FileRead(FHandle, buffer, count);
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  return FileWrite(FHandle, buffer, count);
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  return FileSeek(FHandle, offset, origin);
}

} // namespace rtl
