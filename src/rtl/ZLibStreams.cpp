#include "ZLibStreams.h"

#include "SysUtils.h"

#include <algorithm>
#include <vector>
#include <zlib.h>

namespace rtl {

namespace {

constexpr uInt BufferSize = 65536;

// Negative zlib results are failures; so is a preset dictionary, which no
// stream of ours asks for and which would otherwise stall the read loop.
int CompressCheck(int code) {
  if (code < 0)
    throw ECompressionError(SZLibError);
  return code;
}

int DecompressCheck(int code) {
  if (code < 0 || code == Z_NEED_DICT)
    throw ECompressionError(SZLibError);
  return code;
}

} // namespace

int ZLibLevel(TCompressionLevel level) {
  switch (level) {
  case TCompressionLevel::clFastest:
    return Z_BEST_SPEED;
  case TCompressionLevel::clMax:
    return Z_BEST_COMPRESSION;
  default:
    return Z_DEFAULT_COMPRESSION;
  }
}

// --- TCompressionStream ---

struct TCompressionStream::TState {
  z_stream Z{};
  std::vector<Bytef> Buffer = std::vector<Bytef>(BufferSize);
  bool Open = false;
  bool Finished = false;
};

TCompressionStream::TCompressionStream(TCompressionLevel level, TStream& dest)
    : FState(std::make_unique<TState>()), FDest(dest) {
  CompressCheck(
      deflateInit2(&FState->Z, ZLibLevel(level), Z_DEFLATED, MAX_WBITS, 8, Z_DEFAULT_STRATEGY));
  FState->Open = true;
  FState->Z.next_out = FState->Buffer.data();
  FState->Z.avail_out = BufferSize;
}

TCompressionStream::~TCompressionStream() {
  if (FState->Open)
    deflateEnd(&FState->Z);
}

int32_t TCompressionStream::Read(void*, int32_t) {
  throw ECompressionError(SInvalidStreamOp);
}

int32_t TCompressionStream::Write(const void* buffer, int32_t count) {
  if (count <= 0)
    return 0;
  z_stream& z = FState->Z;
  z.next_in = static_cast<Bytef*>(const_cast<void*>(buffer));
  z.avail_in = static_cast<uInt>(count);
  while (z.avail_in > 0) {
    CompressCheck(deflate(&z, Z_NO_FLUSH));
    if (z.avail_out == 0) {
      FDest.WriteBuffer(FState->Buffer.data(), static_cast<int32_t>(BufferSize));
      z.next_out = FState->Buffer.data();
      z.avail_out = BufferSize;
    }
  }
  return count;
}

int64_t TCompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (offset == 0 && origin == TSeekOrigin::soCurrent)
    return static_cast<int64_t>(FState->Z.total_in);
  throw ECompressionError(SInvalidStreamOp);
}

void TCompressionStream::Finish() {
  if (FState->Finished)
    return;
  z_stream& z = FState->Z;
  z.next_in = nullptr;
  z.avail_in = 0;
  while (CompressCheck(deflate(&z, Z_FINISH)) != Z_STREAM_END) {
    FDest.WriteBuffer(FState->Buffer.data(), static_cast<int32_t>(BufferSize - z.avail_out));
    z.next_out = FState->Buffer.data();
    z.avail_out = BufferSize;
  }
  if (z.avail_out < BufferSize)
    FDest.WriteBuffer(FState->Buffer.data(), static_cast<int32_t>(BufferSize - z.avail_out));
  FState->Finished = true;
  deflateEnd(&z);
  FState->Open = false;
}

// --- TDecompressionStream ---

struct TDecompressionStream::TState {
  z_stream Z{};
  std::vector<Bytef> Buffer = std::vector<Bytef>(BufferSize);
  bool Open = false;
  bool Ended = false;
};

TDecompressionStream::TDecompressionStream(TStream& source)
    : FState(std::make_unique<TState>()), FSource(source) {
  if (inflateInit(&FState->Z) < 0)
    throw EDecompressionError(SZLibError);
  FState->Open = true;
}

TDecompressionStream::~TDecompressionStream() {
  if (!FState->Open)
    return;
  // Give back what was read ahead but not consumed, so the source stands
  // right after the zlib stream.
  if (FState->Z.avail_in > 0) {
    try {
      FSource.Seek(-static_cast<int64_t>(FState->Z.avail_in), TSeekOrigin::soCurrent);
    } catch (...) {
    }
  }
  inflateEnd(&FState->Z);
}

int32_t TDecompressionStream::Read(void* buffer, int32_t count) {
  if (count <= 0)
    return 0;
  z_stream& z = FState->Z;
  z.next_out = static_cast<Bytef*>(buffer);
  z.avail_out = static_cast<uInt>(count);
  while (z.avail_out > 0 && !FState->Ended) {
    if (z.avail_in == 0) {
      const int32_t n = FSource.Read(FState->Buffer.data(), static_cast<int32_t>(BufferSize));
      if (n <= 0)
        break;
      z.next_in = FState->Buffer.data();
      z.avail_in = static_cast<uInt>(n);
    }
    if (DecompressCheck(inflate(&z, Z_NO_FLUSH)) == Z_STREAM_END)
      FState->Ended = true;
  }
  return count - static_cast<int32_t>(z.avail_out);
}

int32_t TDecompressionStream::Write(const void*, int32_t) {
  throw EDecompressionError(SInvalidStreamOp);
}

int64_t TDecompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t pos = static_cast<int64_t>(FState->Z.total_out);
  const int64_t target = origin == TSeekOrigin::soCurrent ? pos + offset : offset;
  if (origin == TSeekOrigin::soEnd || target < pos)
    throw EDecompressionError(SInvalidStreamOp);
  std::vector<uint8_t> skip(static_cast<size_t>(std::min<int64_t>(target - pos, MaxBufSize)));
  for (int64_t left = target - pos; left > 0;) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(left, MaxBufSize));
    ReadBuffer(skip.data(), n);
    left -= n;
  }
  return target;
}

bool TDecompressionStream::AtStreamEnd() const {
  return FState->Ended;
}

} // namespace rtl
