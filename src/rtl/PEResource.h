// Finding a resource in a Windows executable image (PE, 32 or 64 bits) read
// as bytes, on any platform: how the host tool reaches the form stream that
// the setup program carries as RCDATA "TFORM1".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace rtl {

inline constexpr uint16_t RT_RCDATA_ID = 10;

// Where a resource's bytes lie in the image.
struct TPEResourceSpan {
  size_t Offset = 0;
  size_t Size = 0;
};

// True when the bytes start like an executable image ("MZ").
bool IsPEImage(const uint8_t* data, size_t size);

// The first language's data of the resource of type id `type` and name `name`
// (compared with ASCII letters folded to capitals); none when the image has
// no such resource. A malformed image raises EFilerError "Invalid PE image: ...".
std::optional<TPEResourceSpan> FindPEResource(const uint8_t* data, size_t size, uint16_t type,
                                              const std::string& name);

} // namespace rtl
