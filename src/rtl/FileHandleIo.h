// Reading, writing and moving in an open file by its system handle: what the
// file streams share on each platform.
#pragma once

#include "Streams.h"

#include <cstdint>

namespace rtl {

#ifdef _WIN32
using TFileHandle = void*;
#else
using TFileHandle = int;
#endif

// Up to count bytes; fewer only at the end of the file or on an error.
int32_t FileRead(TFileHandle file, void* buffer, int32_t count);
// The bytes written; fewer than count only on an error (a full disk).
int32_t FileWrite(TFileHandle file, const void* buffer, int32_t count);
// The new position, or -1.
int64_t FileSeek(TFileHandle file, int64_t offset, TSeekOrigin origin);

} // namespace rtl
