// JPEG pictures: Picture.Data framing, the header read at load, the pixels
// decoded at the first draw, bad data raised as errors, no GDI objects left.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "ui/JPEGImage.h"

namespace {

struct TRGB {
  uint8_t R, G, B;
};

// Four quadrants of 8x8 pixels each: red, green / blue, white. Whole 8x8
// blocks keep the colours clean through the DCT.
TRGB QuadrantColour(int x, int y, int width, int height) {
  const bool right = x >= width / 2, bottom = y >= height / 2;
  if (!bottom)
    return right ? TRGB{0, 255, 0} : TRGB{255, 0, 0};
  return right ? TRGB{255, 255, 255} : TRGB{0, 0, 255};
}

// A JPEG file made by libjpeg's own compressor: baseline, 4:4:4, quality 100.
std::vector<uint8_t> EncodeQuadrants(int width, int height) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&info, &out, &outSize);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  for (int c = 0; c < 3; ++c)
    info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  while (info.next_scanline < info.image_height) {
    const int y = static_cast<int>(info.next_scanline);
    for (int x = 0; x < width; ++x) {
      const TRGB c = QuadrantColour(x, y, width, height);
      row[x * 3] = c.R, row[x * 3 + 1] = c.G, row[x * 3 + 2] = c.B;
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&info, &p, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<uint8_t> file(out, out + outSize);
  jpeg_destroy_compress(&info);
  std::free(out);
  return file;
}

DWORD GdiObjects() {
  return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
}

// A 24-bit top-down memory canvas, filled with one colour, whose pixels the
// test reads back.
class TCanvas {
public:
  TCanvas(int width, int height) : FWidth(width) {
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    FDC = CreateCompatibleDC(nullptr);
    FBitmap = CreateDIBSection(FDC, &bmi, DIB_RGB_COLORS, &FBits, nullptr, 0);
    FOld = SelectObject(FDC, FBitmap);
    std::memset(FBits, 0x80, Stride() * static_cast<size_t>(height));
  }
  ~TCanvas() {
    SelectObject(FDC, FOld);
    DeleteObject(FBitmap);
    DeleteDC(FDC);
  }
  HDC DC() const { return FDC; }
  TRGB Pixel(int x, int y) const {
    GdiFlush();
    const auto* p = static_cast<const uint8_t*>(FBits) + static_cast<size_t>(y) * Stride() + x * 3;
    return {p[2], p[1], p[0]};
  }

private:
  size_t Stride() const { return (static_cast<size_t>(FWidth) * 3 + 3) & ~size_t{3}; }
  int FWidth;
  HDC FDC;
  HBITMAP FBitmap;
  HGDIOBJ FOld;
  void* FBits = nullptr;
};

::testing::AssertionResult Near(TRGB actual, TRGB expected) {
  const auto off = [](int a, int b) { return std::abs(a - b) > 12; };
  if (off(actual.R, expected.R) || off(actual.G, expected.G) || off(actual.B, expected.B))
    return ::testing::AssertionFailure() << "got (" << int(actual.R) << "," << int(actual.G) << ","
                                         << int(actual.B) << "), expected (" << int(expected.R)
                                         << "," << int(expected.G) << "," << int(expected.B) << ")";
  return ::testing::AssertionSuccess();
}

// The four quadrants of a w x h picture drawn at (left, top).
void ExpectQuadrants(const TCanvas& canvas, int left, int top, int w, int h) {
  const int qx[] = {w / 4, w * 3 / 4}, qy[] = {h / 4, h * 3 / 4};
  for (int y : qy)
    for (int x : qx)
      EXPECT_TRUE(Near(canvas.Pixel(left + x, top + y), QuadrantColour(x, y, w, h)))
          << "at " << x << "," << y << " of " << w << "x" << h;
}

std::string ErrorOf(const std::vector<uint8_t>& pictureData) {
  ui::TJPEGImage image;
  try {
    image.LoadFromPictureData(pictureData.data(), pictureData.size());
  } catch (const ui::EInvalidGraphic& e) {
    EXPECT_TRUE(image.Empty()) << "a failed load leaves the picture empty";
    return e.Message();
  }
  return {};
}

TEST(JPEGImage, PictureDataFramesTheFileAfterItsClassName) {
  const std::vector<uint8_t> jpeg = EncodeQuadrants(16, 16);
  const std::vector<uint8_t> data = ui::MakePictureData(jpeg.data(), jpeg.size());
  ASSERT_EQ(data.size(), 1 + 10 + 4 + jpeg.size());
  EXPECT_EQ(data[0], 10);
  EXPECT_EQ(std::string(data.begin() + 1, data.begin() + 11), "TJPEGImage");
  const uint32_t count = data[11] | data[12] << 8 | data[13] << 16 | uint32_t(data[14]) << 24;
  EXPECT_EQ(count, jpeg.size());
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + 15, data.end()), jpeg);

  ui::TJPEGImage image;
  image.LoadFromPictureData(data.data(), data.size());
  EXPECT_EQ(image.JPEGBytes(), jpeg);
}

TEST(JPEGImage, LoadReadsTheHeaderOnlyAndTheFirstDrawDecodes) {
  const std::vector<uint8_t> jpeg = EncodeQuadrants(48, 32);
  // Everything up to the start of the scan: a header with no pixels behind it.
  size_t sos = 2;
  while (sos + 1 < jpeg.size() && !(jpeg[sos] == 0xFF && jpeg[sos + 1] == 0xDA))
    ++sos;
  ASSERT_LT(sos + 1, jpeg.size());
  const size_t headerEnd = sos + 2 + (jpeg[sos + 2] << 8 | jpeg[sos + 3]);

  ui::TJPEGImage headerOnly;
  headerOnly.LoadFromJPEGBytes(jpeg.data(), headerEnd);
  EXPECT_EQ(headerOnly.Width(), 48);
  EXPECT_EQ(headerOnly.Height(), 32);
  EXPECT_FALSE(headerOnly.Decoded());

  ui::TJPEGImage image;
  image.LoadFromJPEGBytes(jpeg.data(), jpeg.size());
  EXPECT_FALSE(image.Decoded());
  TCanvas canvas(48, 32);
  image.Draw(canvas.DC(), RECT{0, 0, 48, 32});
  EXPECT_TRUE(image.Decoded());
  // The missing scan data reaches libjpeg only now; it pads it, no crash.
  headerOnly.Draw(canvas.DC(), RECT{0, 0, 48, 32});
  EXPECT_TRUE(headerOnly.Decoded());
}

TEST(JPEGImage, DrawsTheColoursAtFullSizeAndStretched) {
  const std::vector<uint8_t> jpeg = EncodeQuadrants(16, 16);
  ui::TJPEGImage image;
  image.LoadFromJPEGBytes(jpeg.data(), jpeg.size());
  TCanvas canvas(120, 80);
  image.Draw(canvas.DC(), RECT{2, 3, 18, 19});
  ExpectQuadrants(canvas, 2, 3, 16, 16);
  for (int x = 2; x < 18; ++x)
    for (int y = 3; y < 19; ++y)
      ASSERT_TRUE(Near(canvas.Pixel(x, y), QuadrantColour(x - 2, y - 3, 16, 16))) << x << "," << y;
  EXPECT_TRUE(Near(canvas.Pixel(1, 3), {0x80, 0x80, 0x80})) << "nothing drawn outside dest";
  EXPECT_TRUE(Near(canvas.Pixel(18, 18), {0x80, 0x80, 0x80})) << "nothing drawn outside dest";

  // Stretched without keeping the aspect, as the thumbnail is.
  image.Draw(canvas.DC(), RECT{30, 10, 30 + 77, 10 + 61});
  ExpectQuadrants(canvas, 30, 10, 77, 61);
  EXPECT_TRUE(Near(canvas.Pixel(30 + 77, 40), {0x80, 0x80, 0x80}));
  EXPECT_TRUE(Near(canvas.Pixel(29, 40), {0x80, 0x80, 0x80}));
}

TEST(JPEGImage, BadPictureDataIsAClearError) {
  const std::vector<uint8_t> jpeg = EncodeQuadrants(16, 16);
  std::vector<uint8_t> data = ui::MakePictureData(jpeg.data(), jpeg.size());

  std::vector<uint8_t> bitmap = data;
  std::memcpy(bitmap.data() + 1, "TBitmapXYZ", 10);
  EXPECT_EQ(ErrorOf(bitmap), "Picture data holds a \"TBitmapXYZ\", not a TJPEGImage");
  EXPECT_EQ(ErrorOf({}), "Picture data is too short for its class name");
  EXPECT_EQ(ErrorOf({10, 'T', 'J'}), "Picture data is too short for its class name");
  EXPECT_EQ(ErrorOf(std::vector<uint8_t>(data.begin(), data.begin() + 13)),
            "Picture data is too short for its JPEG byte count");
  std::vector<uint8_t> cut(data.begin(), data.end() - 1);
  EXPECT_NE(ErrorOf(cut).find("not the"), std::string::npos) << ErrorOf(cut);
  std::vector<uint8_t> huge = data;
  huge[14] = 0xFF; // announces about 4 GB
  EXPECT_NE(ErrorOf(huge).find("not the"), std::string::npos);
}

TEST(JPEGImage, BadJPEGIsAClearErrorNotACrash) {
  const std::vector<uint8_t> jpeg = EncodeQuadrants(16, 16);
  const auto errorOfJPEG = [](const std::vector<uint8_t>& bytes) {
    return ErrorOf(ui::MakePictureData(bytes.data(), bytes.size()));
  };
  EXPECT_EQ(errorOfJPEG({'G', 'I', 'F', '8', '9', 'a', 0, 0}),
            "JPEG error: Not a JPEG file: starts with 0x47 0x49");
  EXPECT_NE(errorOfJPEG({}).find("JPEG error:"), std::string::npos);
  for (size_t length : {size_t{2}, size_t{20}, size_t{100}}) {
    const std::string message = errorOfJPEG({jpeg.begin(), jpeg.begin() + length});
    EXPECT_EQ(message.rfind("JPEG error: ", 0), 0u) << length << ": " << message;
  }
  std::vector<uint8_t> badSof = jpeg;
  for (size_t i = 2; i + 1 < badSof.size(); ++i)
    if (badSof[i] == 0xFF && badSof[i + 1] == 0xC0) {
      badSof[i + 5] = badSof[i + 6] = 0; // height 0
      break;
    }
  EXPECT_EQ(errorOfJPEG(badSof).rfind("JPEG error: ", 0), 0u) << errorOfJPEG(badSof);

  // A failed load keeps nothing of the picture it replaced.
  ui::TJPEGImage image;
  image.LoadFromJPEGBytes(jpeg.data(), jpeg.size());
  const std::vector<uint8_t> garbage(64, 0x5A);
  EXPECT_THROW(image.LoadFromJPEGBytes(garbage.data(), garbage.size()), ui::EInvalidGraphic);
  EXPECT_EQ(image.Width(), 16);
  EXPECT_EQ(image.JPEGBytes(), jpeg);
}

TEST(JPEGImage, LeavesNoGdiObjectsBehind) {
  const std::vector<uint8_t> jpeg = EncodeQuadrants(64, 48);
  const std::vector<uint8_t> garbage(64, 0x5A);
  TCanvas canvas(64, 48);
  const DWORD before = GdiObjects();
  // Wine counts no GDI objects (always 0); the bitmaps are checked one by one too.
  std::vector<HBITMAP> bitmaps;
  for (int round = 0; round < 20; ++round) {
    ui::TJPEGImage image;
    image.LoadFromJPEGBytes(jpeg.data(), jpeg.size());
    image.Draw(canvas.DC(), RECT{0, 0, 64, 48});
    image.Draw(canvas.DC(), RECT{0, 0, 32, 24});
    bitmaps.push_back(image.Bitmap());
    image.LoadFromJPEGBytes(jpeg.data(), jpeg.size()); // drops the decoded pixels
    EXPECT_FALSE(image.Decoded());
    image.Draw(canvas.DC(), RECT{0, 0, 64, 48});
    bitmaps.push_back(image.Bitmap());
    EXPECT_THROW(image.LoadFromJPEGBytes(garbage.data(), garbage.size()), ui::EInvalidGraphic);
  }
  EXPECT_EQ(GdiObjects(), before);
  for (HBITMAP bitmap : bitmaps)
    EXPECT_EQ(GetObjectType(bitmap), 0u) << "bitmap not deleted";
}

// The pictures the setup program carries, read by this decoder.
TEST(JPEGImage, ReadsTheProgramsPictures) {
  const std::string res = "Z:" QLX_SETUP_RES "/";
  const struct {
    const char* Name;
    int Width, Height;
  } pictures[] = {{"screenshot.jpg", 500, 434}, {"thumbnail.jpg", 200, 174}};
  for (const auto& picture : pictures) {
    std::ifstream in(res + picture.Name, std::ios::binary);
    ASSERT_TRUE(in) << res << picture.Name;
    const std::vector<uint8_t> jpeg{std::istreambuf_iterator<char>(in), {}};
    const std::vector<uint8_t> data = ui::MakePictureData(jpeg.data(), jpeg.size());
    ui::TJPEGImage image;
    image.LoadFromPictureData(data.data(), data.size());
    EXPECT_EQ(image.Width(), picture.Width);
    EXPECT_EQ(image.Height(), picture.Height);
    TCanvas canvas(picture.Width, picture.Height);
    image.Draw(canvas.DC(), RECT{0, 0, picture.Width, picture.Height});
    EXPECT_TRUE(image.Decoded());
  }
}

} // namespace
