#include "FileHandleIo.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

namespace rtl {

#ifdef _WIN32

int32_t FileRead(TFileHandle file, void* buffer, int32_t count) {
  DWORD n = 0;
  if (count <= 0 || !ReadFile(file, buffer, static_cast<DWORD>(count), &n, nullptr))
    return 0;
  return static_cast<int32_t>(n);
}

int32_t FileWrite(TFileHandle file, const void* buffer, int32_t count) {
  DWORD n = 0;
  if (count <= 0 || !WriteFile(file, buffer, static_cast<DWORD>(count), &n, nullptr))
    return 0;
  return static_cast<int32_t>(n);
}

int64_t FileSeek(TFileHandle file, int64_t offset, TSeekOrigin origin) {
  LARGE_INTEGER dist, result;
  dist.QuadPart = offset;
  const DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                       : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                          : FILE_END;
  if (!SetFilePointerEx(file, dist, &result, method))
    return -1;
  return result.QuadPart;
}

#else

namespace {

// read and write may move fewer bytes than asked, or be interrupted.
template <typename TBuffer, typename TCall>
int32_t Loop(TBuffer* buffer, int32_t count, TCall call) {
  int32_t done = 0;
  while (done < count) {
    const ssize_t n = call(buffer + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

} // namespace

int32_t FileRead(TFileHandle file, void* buffer, int32_t count) {
  return Loop(static_cast<char*>(buffer), count,
              [file](char* at, size_t n) { return ::read(file, at, n); });
}

int32_t FileWrite(TFileHandle file, const void* buffer, int32_t count) {
  return Loop(static_cast<const char*>(buffer), count,
              [file](const char* at, size_t n) { return ::write(file, at, n); });
}

int64_t FileSeek(TFileHandle file, int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  return static_cast<int64_t>(::lseek(file, static_cast<off_t>(offset), whence));
}

#endif

} // namespace rtl
