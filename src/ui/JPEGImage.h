// JPEG pictures as a form resource stores them (Picture.Data), read with
// libjpeg: the header at load time for the size, the pixels at the first Draw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ui {

// The graphic class name a JPEG picture carries in Picture.Data.
inline constexpr const char* SJPEGImageClass = "TJPEGImage";

// Picture.Data of a JPEG file: the class name with a one-byte length, a
// 32-bit little-endian byte count, then the file itself. Kept free of Win32 so
// that the host tools can build the forms' pictures too.
inline std::vector<uint8_t> MakePictureData(const uint8_t* jpeg, size_t size) {
  const std::string name = SJPEGImageClass;
  std::vector<uint8_t> data;
  data.reserve(1 + name.size() + 4 + size);
  data.push_back(static_cast<uint8_t>(name.size()));
  data.insert(data.end(), name.begin(), name.end());
  const auto count = static_cast<uint32_t>(size);
  for (int shift = 0; shift < 32; shift += 8)
    data.push_back(static_cast<uint8_t>(count >> shift));
  data.insert(data.end(), jpeg, jpeg + size);
  return data;
}

} // namespace ui

#if defined(_WIN32)

#include <windows.h>

#include "rtl/SysUtils.h"
#include "ui/WinHandles.h"

namespace ui {

// A picture that cannot be read: wrong graphic class, short block, bad JPEG.
class EInvalidGraphic : public rtl::Exception {
public:
  using rtl::Exception::Exception;
  const char* ClassName() const noexcept override { return "EInvalidGraphic"; }
};

struct TDIBSectionTraits {
  using Type = HBITMAP;
  static void Close(HBITMAP bitmap) { DeleteObject(bitmap); }
};
// The decoded pixels of a picture.
using TDIBSection = TOwned<TDIBSectionTraits>;

// A JPEG picture. Loading keeps the file and reads its header only; the first
// Draw decodes the pixels (full scale, 24-bit, best quality) into a DIB
// section that later draws reuse.
class TJPEGImage {
public:
  TJPEGImage() = default;
  TJPEGImage(const TJPEGImage&) = delete;
  TJPEGImage& operator=(const TJPEGImage&) = delete;

  // Reads Picture.Data as a form resource stores it; raises EInvalidGraphic
  // for another graphic class, a short block or a bad JPEG header.
  void LoadFromPictureData(const uint8_t* data, size_t size);
  // Takes a complete JPEG file; raises EInvalidGraphic if its header is bad.
  void LoadFromJPEGBytes(const uint8_t* data, size_t size);

  bool Empty() const { return FJPEG.empty(); }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // The file as loaded, for saving it back.
  const std::vector<uint8_t>& JPEGBytes() const { return FJPEG; }
  // True once the pixels have been decoded.
  bool Decoded() const { return static_cast<bool>(FBitmap); }
  // The decoded pixels as a DIB section owned by the picture; null before.
  HBITMAP Bitmap() const { return FBitmap.Get(); }

  // Draws the picture stretched (or shrunk) to fill dest; decodes the pixels
  // first if no Draw did before. Raises EInvalidGraphic if the pixels are bad.
  void Draw(HDC dc, const RECT& dest);

private:
  void Decode();

  std::vector<uint8_t> FJPEG;
  int FWidth = 0;
  int FHeight = 0;
  TDIBSection FBitmap;
};

} // namespace ui

#endif
