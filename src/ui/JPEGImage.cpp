#include "ui/JPEGImage.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace ui {

namespace {

// libjpeg's own error_exit ends the process. Ours jumps back to the call that
// entered libjpeg with the message kept. No C++ exception may pass through
// libjpeg's C frames, hence the jump; the functions below that set the jump
// point hold no objects with destructors.
struct TJPEGError {
  jpeg_error_mgr Manager; // first, so that libjpeg's err pointer is ours too
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info) {
  auto* error = reinterpret_cast<TJPEGError*>(info->err);
  info->err->format_message(info, error->Message);
  std::longjmp(error->Jump, 1);
}

// Warnings (such as data cut short, which libjpeg pads) are not shown.
void OutputMessage(j_common_ptr) {}

void InitError(TJPEGError& error) {
  jpeg_std_error(&error.Manager);
  error.Manager.error_exit = ErrorExit;
  error.Manager.output_message = OutputMessage;
  error.Message[0] = '\0';
}

struct THeader {
  int Width = 0;
  int Height = 0;
  J_COLOR_SPACE ColorSpace = JCS_UNKNOWN;
};

// Reads the header of a JPEG file; false with error.Message set if libjpeg
// rejects it.
bool ReadHeader(const uint8_t* data, size_t size, THeader& header, TJPEGError& error) {
  jpeg_decompress_struct info;
  std::memset(&info, 0, sizeof info);
  InitError(error);
  info.err = &error.Manager;
  if (setjmp(error.Jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  header.Width = static_cast<int>(info.image_width);
  header.Height = static_cast<int>(info.image_height);
  header.ColorSpace = info.jpeg_color_space;
  jpeg_destroy_decompress(&info);
  return true;
}

// Decodes a JPEG file of width x height at full scale, best quality, into
// 24-bit BGR rows of stride bytes, top row first.
bool DecodePixels(const uint8_t* data, size_t size, uint8_t* bits, size_t stride, int width,
                  int height, TJPEGError& error) {
  jpeg_decompress_struct info;
  std::memset(&info, 0, sizeof info);
  InitError(error);
  info.err = &error.Manager;
  if (setjmp(error.Jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_BGR;
  info.scale_num = 1;
  info.scale_denom = 1;
  info.dct_method = JDCT_ISLOW;
  info.do_fancy_upsampling = TRUE;
  info.do_block_smoothing = TRUE;
  info.quantize_colors = FALSE;
  jpeg_start_decompress(&info);
  if (static_cast<int>(info.output_width) != width ||
      static_cast<int>(info.output_height) != height || info.output_components != 3) {
    std::snprintf(error.Message, sizeof error.Message, "JPEG output is not %dx%d 24-bit", width,
                  height);
    jpeg_destroy_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = bits + info.output_scanline * stride;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

[[noreturn]] void RaiseJPEGError(const TJPEGError& error) {
  throw EInvalidGraphic(rtl::Format("JPEG error: %s", error.Message));
}

uint32_t ReadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Rows of a 24-bit DIB are padded to whole 32-bit words.
size_t DIBStride(int width) {
  return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
}

// A memory DC with one bitmap selected into it for as long as it lives.
class TBitmapDC {
public:
  TBitmapDC(HDC compatible, HBITMAP bitmap) : FDC(CreateCompatibleDC(compatible)) {
    if (!FDC)
      throw EInvalidGraphic("Cannot create a device context for the JPEG picture");
    FOld = SelectObject(FDC, bitmap);
  }
  ~TBitmapDC() {
    SelectObject(FDC, FOld);
    DeleteDC(FDC);
  }
  TBitmapDC(const TBitmapDC&) = delete;
  TBitmapDC& operator=(const TBitmapDC&) = delete;
  HDC Get() const { return FDC; }

private:
  HDC FDC;
  HGDIOBJ FOld = nullptr;
};

} // namespace

void TJPEGImage::LoadFromPictureData(const uint8_t* data, size_t size) {
  const size_t nameLength = size > 0 ? data[0] : 0;
  if (size < 1 + nameLength)
    throw EInvalidGraphic("Picture data is too short for its class name");
  const std::string name(reinterpret_cast<const char*>(data + 1), nameLength);
  if (name != SJPEGImageClass)
    throw EInvalidGraphic(
        rtl::Format("Picture data holds a \"%s\", not a %s", name.c_str(), SJPEGImageClass));
  const size_t countAt = 1 + nameLength;
  if (size < countAt + 4)
    throw EInvalidGraphic("Picture data is too short for its JPEG byte count");
  const uint32_t count = ReadLE32(data + countAt);
  if (size - countAt - 4 != count)
    throw EInvalidGraphic(rtl::Format("Picture data holds %u JPEG bytes, not the %u it announces",
                                      static_cast<unsigned>(size - countAt - 4),
                                      static_cast<unsigned>(count)));
  LoadFromJPEGBytes(data + countAt + 4, count);
}

void TJPEGImage::LoadFromJPEGBytes(const uint8_t* data, size_t size) {
  THeader header;
  TJPEGError error;
  if (!ReadHeader(data, size, header, error))
    RaiseJPEGError(error);
  if (header.ColorSpace != JCS_YCbCr && header.ColorSpace != JCS_RGB &&
      header.ColorSpace != JCS_GRAYSCALE)
    throw EInvalidGraphic("JPEG error: colour space cannot be shown in 24-bit colour");
  // The DIB section's size must fit its 32-bit image size.
  if (static_cast<uint64_t>(DIBStride(header.Width)) * static_cast<uint64_t>(header.Height) >
      0x7FFFFFFFu)
    throw EInvalidGraphic(
        rtl::Format("JPEG picture of %dx%d is too large", header.Width, header.Height));
  FJPEG.assign(data, data + size);
  FWidth = header.Width;
  FHeight = header.Height;
  FBitmap.Reset();
}

void TJPEGImage::Decode() {
  BITMAPINFO bmi = {};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = FWidth;
  bmi.bmiHeader.biHeight = -FHeight; // top-down, as libjpeg delivers the rows
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 24;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  TDIBSection bitmap(CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || !bits)
    throw EInvalidGraphic(
        rtl::Format("Out of memory for a JPEG picture of %dx%d", FWidth, FHeight));
  TJPEGError error;
  if (!DecodePixels(FJPEG.data(), FJPEG.size(), static_cast<uint8_t*>(bits), DIBStride(FWidth),
                    FWidth, FHeight, error))
    RaiseJPEGError(error);
  GdiFlush();
  FBitmap = std::move(bitmap);
}

void TJPEGImage::Draw(HDC dc, const RECT& dest) {
  if (Empty())
    return;
  if (!FBitmap)
    Decode();
  const TBitmapDC source(dc, FBitmap.Get());
  const int oldMode = SetStretchBltMode(dc, HALFTONE);
  POINT oldOrigin = {};
  // HALFTONE leaves the brush origin undefined.
  SetBrushOrgEx(dc, 0, 0, &oldOrigin);
  StretchBlt(dc, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, source.Get(),
             0, 0, FWidth, FHeight, SRCCOPY);
  SetBrushOrgEx(dc, oldOrigin.x, oldOrigin.y, nullptr);
  SetStretchBltMode(dc, oldMode);
}

} // namespace ui
