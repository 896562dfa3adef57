// Finding RCDATA "TFORM1" in real executables made by the MinGW toolchain,
// and surviving malformed ones.
#include "rtl/FormBinary.h"
#include "rtl/FormText.h"
#include "rtl/PEResource.h"
#include "rtl/SysUtils.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace rtl;

namespace {

using Bytes = std::vector<uint8_t>;

// The form both images carry as RCDATA "TFORM1".
const char* const SmallForm = R"(object Form1: TForm1
  Caption = 'From a PE'
  object mxStorage1: TmxStorage
    Left = 208
  end
end
)";

// Two images linked from the same resource script, zlib-compressed:
//   1 RCDATA "other.bin"  TFORM1 RCDATA "small.bin"  TFORM1 HTML "other.bin"
// with small.bin = the compiled SmallForm and other.bin = "other", built by
//   {i686,x86_64}-w64-mingw32-windres pe.rc -O coff -o pe.o
//   {i686,x86_64}-w64-mingw32-gcc -nostdlib -Wl,--entry=[_]start -s pe.c pe.o
// where pe.c holds an empty start().
const char* const Image32 = "78DAF38D9AC0C0CCC0C0C002C4FFFF3330EC6080000706C2A00188F9E477F1316CE13C"
                            "ABB883D1E7AC62484666B14241"
                            "517E7A5162AE4272625E5E7E894252AA4251699E42669E828B7FB0426E7E4AAA1E2F2F"
                            "970AD48C005706061F46568619"
                            "73C5B361E63E60E063E66664D26060027238A08202500C731D88CD04713723D4FD6090"
                            "00E1246F6600FACB0128A500D5"
                            "2700D72F80EC09A0512260873030783032D00DE895A45694006909988398903D010140"
                            "9727E815A524962442DDA80055"
                            "C786AA0EE80507BDD48CF83460A85B80040CA0EA38B0A8CB4432CF01AA8E0B43DD01BD"
                            "A2E2A2640668980440D5F160AA"
                            "631805431A84763E9D107B78C284FFFF41B91F540640E851303280BBB3B3958286BB5F"
                            "A8A682A1916E79669EB1D168A0"
                            "8C202002A519AB8218186B3818A57958583A8065BE0C03043FB8FFFF3FB8BA71E4E368"
                            "6572E265753A0A54311A6EA360"
                            "140C3FC0046E0A029B990DE240BA00D2C4870346205C001403B6FB1A40CDC208347990"
                            "0A4E166C8D4288F8050C510686"
                            "7540333A7098F300DCD40D617063F0670862F0653044E381C00760DBD40D49A7452003"
                            "032B721B158D1F12E066C016E2"
                            "965F946BC80A26D99D130B4A32F3F3D838DD8AF273151215803D12AE90DC8AE092FCA2"
                            "C4F4542E38CB90C52735AD8419"
                            "EA89FC928CD422247AA80200456E71AF";
const char* const Image64 = "78DAED97BF4BC34014C75FD3B4B6554B2775F304071D0CAD2EE224545307B545238820"
                            "34DAA84192943362C74EA25B47"
                            "17C5BFC0C9A13809CE827F828BBBFF417DC95D6AFA437411B4CDA75C9377F9E672DF17"
                            "C8DD5BDBA9411800446C8D0640"
                            "1D188BF03D556CC9F18724DCC79F27EAA1D5E709E5483F21656A1D52D520FBAA695A36"
                            "D9D3083D35896E92A5FC2631AC"
                            "92260D0F2726F918856580D27914AEAE478FBD71DF41120605610A040C12BC33C51B4E"
                            "2DE4C5029BB743C41523656666"
                            "E406D05711A5E4F37EFF49EAD347CA6FAA0030E61C8B002BCE83D20043F0FB48B656B1"
                            "D9E39ADE9AE638E8A428D1926A"
                            "ABDC15E1BA68AB0EDFDDA254663A77EE69AE8B75D155982EE6BD747FCEFD3A9DE9C678"
                            "8E5CDD5087EE51A227741F78EE"
                            "8A5C97ECD441C09F606BE5F2ADB6FB54F36870BCEBED71406F91CB6617C8546E7D6B9A"
                            "646667CE74736E36484A3F816B"
                            "CD40EA870B7E40CF11128588180E15824C0404F43B82BBF5C7B2A23ACA4AA96ACBB702"
                            "7FB7D8874B45D5D9DE6FB75D77"
                            "1471B1DBE69EF5BF74F402DCE118175F8CF3EA96360AC890870D58834C5BE4D68A5863"
                            "C8BE3BE755A716F4D51A6DB152"
                            "90D35145B6A89189B8FF0359B56CEB96198DCBD432884AB0224D284665D3B6A87AA825"
                            "9A671971553BB0C3DC84651F69"
                            "D477FCAF7C004A0C79E0";

Bytes Unpack(const char* hex) {
  Bytes packed;
  for (const char* p = hex; p[0] && p[1]; p += 2)
    packed.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
  Bytes image(8192);
  uLongf size = static_cast<uLongf>(image.size());
  EXPECT_EQ(Z_OK,
            uncompress(image.data(), &size, packed.data(), static_cast<uLong>(packed.size())));
  image.resize(size);
  return image;
}

std::optional<TPEResourceSpan> Find(const Bytes& image, const char* name,
                                    uint16_t type = RT_RCDATA_ID) {
  return FindPEResource(image.data(), image.size(), type, name);
}

Bytes At(const Bytes& image, const TPEResourceSpan& span) {
  return Bytes(image.begin() + static_cast<ptrdiff_t>(span.Offset),
               image.begin() + static_cast<ptrdiff_t>(span.Offset + span.Size));
}

void Poke32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t Peek32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// Any outcome but a crash or a span outside the image.
void ExpectHandled(const Bytes& image) {
  try {
    const auto span = Find(image, "TFORM1");
    if (span) {
      EXPECT_LE(span->Offset, image.size());
      EXPECT_LE(span->Size, image.size() - span->Offset);
    }
  } catch (const EFilerError& e) {
    EXPECT_EQ(0u, e.Message().rfind("Invalid PE image: ", 0)) << e.Message();
  }
}

} // namespace

TEST(PEResource, FindsTheFormInRealImages) {
  const Bytes form = WriteForm(TextToForm(SmallForm));
  for (const char* packed : {Image32, Image64}) {
    const Bytes image = Unpack(packed);
    ASSERT_TRUE(IsPEImage(image.data(), image.size()));
    const auto span = Find(image, "TFORM1");
    ASSERT_TRUE(span);
    EXPECT_EQ(form, At(image, *span));
    const auto lower = Find(image, "tform1");
    ASSERT_TRUE(lower);
    EXPECT_EQ(span->Offset, lower->Offset);
    // The same name under another type, and a numbered RCDATA, are not it.
    const auto html = Find(image, "TFORM1", 23);
    ASSERT_TRUE(html);
    EXPECT_EQ((Bytes{'o', 't', 'h', 'e', 'r'}), At(image, *html));
    EXPECT_FALSE(Find(image, "TFORM2"));
    EXPECT_FALSE(Find(image, "TFORM"));
    EXPECT_FALSE(Find(image, "TFORM1", 3));
  }
}

TEST(PEResource, RejectsWhatIsNoImage) {
  const Bytes form = WriteForm(TextToForm(SmallForm));
  EXPECT_FALSE(IsPEImage(form.data(), form.size()));
  EXPECT_THROW(Find(form, "TFORM1"), EFilerError);
  const Bytes mz = {'M', 'Z'};
  EXPECT_TRUE(IsPEImage(mz.data(), mz.size()));
  EXPECT_THROW(Find(mz, "TFORM1"), EFilerError);
}

TEST(PEResource, BogusHeadersAreErrors) {
  const Bytes image = Unpack(Image32);
  const uint32_t pe = Peek32(image, 0x3C);

  Bytes far = image;
  Poke32(far, 0x3C, 0xFFFFFFF0u);
  EXPECT_THROW(Find(far, "TFORM1"), EFilerError);

  Bytes sections = image; // more sections than the file holds
  sections[pe + 6] = 0xFF;
  sections[pe + 7] = 0xFF;
  EXPECT_THROW(Find(sections, "TFORM1"), EFilerError);

  Bytes rva = image; // resource directory at an address no section covers
  Poke32(rva, pe + 24 + 96 + 16, 0x7FFFFFF0u);
  EXPECT_THROW(Find(rva, "TFORM1"), EFilerError);

  Bytes none = image; // no resource directory at all
  Poke32(none, pe + 24 + 96 + 16, 0);
  EXPECT_FALSE(Find(none, "TFORM1"));

  // The data entry's size pointing past its section.
  const auto span = Find(image, "TFORM1");
  ASSERT_TRUE(span);
  for (size_t at = 0; at + 8 <= image.size(); ++at) {
    if (Peek32(image, at) != span->Size || at < 4)
      continue;
    Bytes big = image;
    Poke32(big, at, 0x7FFFFFFFu);
    ExpectHandled(big);
  }
}

TEST(PEResource, TruncatedAndMutatedImagesFailCleanly) {
  for (const char* packed : {Image32, Image64}) {
    const Bytes image = Unpack(packed);
    for (size_t n = 0; n < image.size(); ++n)
      ExpectHandled(Bytes(image.begin(), image.begin() + static_cast<ptrdiff_t>(n)));
    std::mt19937 gen(11);
    for (int i = 0; i < 4000; ++i) {
      Bytes b = image;
      for (int k = 1 + static_cast<int>(gen() % 3); k > 0; --k)
        b[gen() % b.size()] = static_cast<uint8_t>(gen());
      ExpectHandled(b);
    }
  }
}
