// Stream adaptors over zlib: compress while writing, decompress while reading.
#pragma once

#include "Streams.h"

#include <memory>

namespace rtl {

// Compression levels as the store names them; clNone never reaches zlib.
enum class TCompressionLevel : uint8_t { clNone = 0, clFastest = 1, clDefault = 2, clMax = 3 };

// zlib's level for one of ours: clFastest 1, clDefault -1 (zlib's 6), clMax 9.
int ZLibLevel(TCompressionLevel level);

// Writes deflate output into a destination stream through a 65536-byte buffer.
// Finish() ends the zlib stream; destruction without Finish() only frees zlib.
class TCompressionStream : public TStream {
public:
  TCompressionStream(TCompressionLevel level, TStream& dest);
  ~TCompressionStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  // Only the position query is allowed: it gives the bytes taken in so far.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void Finish();

private:
  struct TState;
  std::unique_ptr<TState> FState;
  TStream& FDest;
};

// Reads inflate output from a source stream through a 65536-byte buffer. On
// destruction the source is moved back over the input read but not used.
class TDecompressionStream : public TStream {
public:
  explicit TDecompressionStream(TStream& source);
  ~TDecompressionStream() override;

  // Fewer bytes than asked only when the source has nothing more.
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  // The position query gives the bytes produced so far; forward seeks skip.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // True once zlib has seen the end of the stream and its checksum.
  bool AtStreamEnd() const;

private:
  struct TState;
  std::unique_ptr<TState> FState;
  TStream& FSource;
};

} // namespace rtl
