// A file that replaces its target only when it is complete.
#pragma once

#include "Streams.h"

#include <memory>
#include <string>

namespace rtl {

// Writes go to a temporary file beside the target, which stays locked against
// other writers meanwhile; Commit() moves the temporary file over the target.
// Without Commit() the temporary file is removed and the target is left as it
// was. Every failure to create names the target in "Cannot create file".
class TAtomicFileStream : public TStream {
public:
  explicit TAtomicFileStream(const std::string& target);
  ~TAtomicFileStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void Commit();

private:
  struct TState;
  std::unique_ptr<TState> FState;
};

} // namespace rtl
