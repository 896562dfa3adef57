// Byte streams: the abstract stream, an in-memory stream and a file stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rtl {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// Largest chunk that CopyFrom moves at once.
inline constexpr int32_t MaxBufSize = 0xF000;

class TStream {
public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Reads or writes up to count bytes; returns how many moved.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t newSize);

  // All or nothing: EReadError / EWriteError when fewer bytes move.
  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);

  // Copies count bytes from source's position, in chunks of at most MaxBufSize;
  // a count of 0 copies the whole source from its start. Returns the count.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A growable buffer in memory.
class TMemoryStream : public TStream {
public:
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t newSize) override;

  void Clear();
  const uint8_t* Memory() const { return FData.data(); }
  uint8_t* Memory() { return FData.data(); }
  const std::vector<uint8_t>& Bytes() const { return FData; }
  void LoadFromStream(TStream& source);
  void SaveToStream(TStream& dest);

private:
  std::vector<uint8_t> FData;
  int64_t FPosition = 0;
};

// A stream over bytes owned by someone else, read only.
class TReadOnlyMemoryStream : public TStream {
public:
  // persistent: the memory outlives every reader of the stream (a resource of
  // the running program), so a reader may keep pointing into it.
  TReadOnlyMemoryStream(const void* data, size_t size, bool persistent = false)
      : FData(static_cast<const uint8_t*>(data)), FSize(static_cast<int64_t>(size)),
        FPersistent(persistent) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return FSize; }
  const uint8_t* Data() const { return FData; }
  bool Persistent() const { return FPersistent; }

private:
  const uint8_t* FData;
  int64_t FSize;
  bool FPersistent;
  int64_t FPosition = 0;
};

// A window onto part of another stream, read only: position 0 is the base
// stream's start offset, and reads stop at the window's end.
class TStreamView : public TStream {
public:
  TStreamView(TStream& base, int64_t start, int64_t size)
      : FBase(base), FStart(start), FSize(size) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return FSize; }

private:
  TStream& FBase;
  int64_t FStart;
  int64_t FSize;
  int64_t FPosition = 0;
};

// How a file stream opens its file.
enum class TFileMode {
  fmCreate,   // created anew, read and write access, no sharing
  fmOpenRead, // existing file, read only, others may read
};

// A file on disk; every failure to open raises EFCreateError or EFOpenError.
class TFileStream : public TStream {
public:
  TFileStream(const std::string& fileName, TFileMode mode);
  ~TFileStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  const std::string& FileName() const { return FFileName; }

private:
  std::string FFileName;
#ifdef _WIN32
  void* FHandle;
#else
  int FHandle;
#endif
};

// The absolute form of a path, as the file-creation error names it.
std::string ExpandFileName(const std::string& fileName);

} // namespace rtl
