// The built setup program's PE headers: it imports only DLLs that Windows
// always takes from System32 (nothing that could be planted beside it), it
// is linked with ASLR and DEP, and its manifest asks for common controls 6.0
// and for administrator rights, declares DPI awareness and names the Windows
// versions it supports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<uint8_t> ReadImage(std::string path) {
  if (!path.empty() && path[0] == '/') {
    std::replace(path.begin(), path.end(), '/', '\\');
    path = "Z:" + path;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file)
    throw std::runtime_error("cannot open " + path);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Every read checked against the file's end: a malformed image fails the test
// instead of reading past the buffer.
class TPEImage {
public:
  explicit TPEImage(std::vector<uint8_t> bytes) : FBytes(std::move(bytes)) {
    if (U16(0) != 0x5A4D)
      throw std::runtime_error("no MZ signature");
    const uint32_t pe = U32(0x3C);
    if (U32(pe) != 0x00004550u)
      throw std::runtime_error("no PE signature");
    FSectionCount = U16(pe + 6);
    const uint32_t optionalSize = U16(pe + 20);
    FOptional = pe + 24;
    FMagic = U16(FOptional);
    if (FMagic != 0x10B && FMagic != 0x20B)
      throw std::runtime_error("unknown optional header");
    FSectionTable = FOptional + optionalSize;
    Check(FSectionTable, 40ull * FSectionCount);
  }

  uint16_t Magic() const { return FMagic; }
  uint16_t DllCharacteristics() const { return U16(FOptional + 70); }
  uint32_t SectionAlignment() const { return U32(FOptional + 32); }
  uint32_t FileAlignment() const { return U32(FOptional + 36); }

  // Data directory `index` as (rva, size); (0, 0) when the image has none.
  std::pair<uint32_t, uint32_t> Directory(unsigned index) const {
    const uint32_t countAt = FOptional + (FMagic == 0x10B ? 92 : 108);
    if (index >= U32(countAt))
      return {0, 0};
    const uint32_t at = countAt + 4 + 8 * index;
    return {U32(at), U32(at + 4)};
  }

  uint32_t Offset(uint32_t rva) const {
    for (unsigned i = 0; i < FSectionCount; ++i) {
      const uint32_t s = FSectionTable + 40 * i;
      const uint32_t va = U32(s + 12);
      const uint32_t span = std::max(U32(s + 8), U32(s + 16));
      if (rva >= va && rva - va < span) {
        const uint64_t offset = uint64_t{U32(s + 20)} + (rva - va);
        Check(offset, 1);
        return static_cast<uint32_t>(offset);
      }
    }
    throw std::runtime_error("RVA outside every section");
  }

  std::string CString(uint32_t offset) const {
    std::string s;
    for (;; ++offset) {
      Check(offset, 1);
      if (FBytes[offset] == 0)
        return s;
      s += static_cast<char>(FBytes[offset]);
    }
  }

  uint16_t U16(uint64_t at) const {
    Check(at, 2);
    return static_cast<uint16_t>(FBytes[at] | FBytes[at + 1] << 8);
  }
  uint32_t U32(uint64_t at) const { return U16(at) | static_cast<uint32_t>(U16(at + 2)) << 16; }
  const std::vector<uint8_t>& Bytes() const { return FBytes; }

  void Check(uint64_t at, uint64_t size) const {
    if (at > FBytes.size() || size > FBytes.size() - at)
      throw std::runtime_error("read beyond the end of the image");
  }

private:
  std::vector<uint8_t> FBytes;
  unsigned FSectionCount = 0;
  uint32_t FOptional = 0;
  uint32_t FSectionTable = 0;
  uint16_t FMagic = 0;
};

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The DLL names of an import directory: ordinary (20-byte descriptors, name
// at +12) or delay-load (32-byte descriptors, name at +4).
std::vector<std::string> ImportedDlls(const TPEImage& image, unsigned directory,
                                      unsigned descriptorSize, unsigned nameAt) {
  std::vector<std::string> names;
  const auto [rva, size] = image.Directory(directory);
  if (rva == 0)
    return names;
  const uint32_t table = image.Offset(rva);
  for (uint32_t d = table;; d += descriptorSize) {
    image.Check(d, descriptorSize);
    bool empty = true;
    for (unsigned k = 0; k < descriptorSize; ++k)
      empty = empty && image.Bytes()[d + k] == 0;
    if (empty)
      return names;
    names.push_back(Lower(image.CString(image.Offset(image.U32(d + nameAt)))));
    if (names.size() > 1000)
      throw std::runtime_error("import table without an end");
  }
}

// The first language's bytes of resource type `type`, integer id `id`.
std::optional<std::string> ResourceById(const TPEImage& image, uint16_t type, uint16_t id) {
  const auto [rva, size] = image.Directory(2);
  if (rva == 0)
    return std::nullopt;
  const uint32_t root = image.Offset(rva);
  // The entry with integer id `want` of the directory at `dir`; any entry when none given.
  auto entry = [&](uint32_t dir, std::optional<uint16_t> want) -> std::optional<uint32_t> {
    const unsigned named = image.U16(dir + 12);
    const unsigned ids = image.U16(dir + 14);
    for (unsigned i = 0; i < named + ids; ++i) {
      const uint32_t e = dir + 16 + 8 * i;
      const uint32_t nameField = image.U32(e);
      if (!want || (!(nameField & 0x80000000u) && (nameField & 0xFFFF) == *want))
        return image.U32(e + 4);
    }
    return std::nullopt;
  };
  auto subdirectory = [&](uint32_t field) {
    if (!(field & 0x80000000u))
      throw std::runtime_error("resource leaf where a directory belongs");
    return root + (field & 0x7FFFFFFFu);
  };
  const auto typeEntry = entry(root, type);
  if (!typeEntry)
    return std::nullopt;
  const auto idEntry = entry(subdirectory(*typeEntry), id);
  if (!idEntry)
    return std::nullopt;
  const auto langEntry = entry(subdirectory(*idEntry), std::nullopt);
  if (!langEntry || (*langEntry & 0x80000000u))
    return std::nullopt;
  const uint32_t data = root + *langEntry;
  const uint32_t at = image.Offset(image.U32(data));
  const uint32_t length = image.U32(data + 4);
  image.Check(at, length);
  return std::string(image.Bytes().begin() + at, image.Bytes().begin() + at + length);
}

// DLLs Windows maps from System32 whatever the search path (KnownDLLs), or
// API sets resolved by the loader itself.
const std::set<std::string> SystemDlls = {
    "kernel32.dll", "user32.dll",   "gdi32.dll",    "advapi32.dll", "shell32.dll",
    "ole32.dll",    "oleaut32.dll", "comdlg32.dll", "shlwapi.dll",  "msvcrt.dll",
    "ntdll.dll",    "rpcrt4.dll",   "imm32.dll",    "sechost.dll",  "combase.dll",
    "setupapi.dll", "wldap32.dll",  "ws2_32.dll",   "psapi.dll",    "normaliz.dll",
    "nsi.dll",      "difxapi.dll",  "clbcatq.dll",  "msctf.dll",    "imagehlp.dll"};

class PEHeaderTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { Image = new TPEImage(ReadImage(QLX_SETUP_EXE)); }
  static void TearDownTestSuite() {
    delete Image;
    Image = nullptr;
  }
  static TPEImage* Image;
};
TPEImage* PEHeaderTest::Image = nullptr;

TEST_F(PEHeaderTest, ImportsOnlyKnownSystemDlls) {
  ASSERT_EQ(Image->Magic(), 0x10B) << "a 32-bit image";
  const auto imports = ImportedDlls(*Image, 1, 20, 12);
  ASSERT_FALSE(imports.empty());
  EXPECT_NE(std::find(imports.begin(), imports.end(), "kernel32.dll"), imports.end());
  for (const auto& dll : imports) {
    const bool apiSet = dll.rfind("api-ms-win-", 0) == 0;
    EXPECT_TRUE(SystemDlls.count(dll) || apiSet)
        << dll << " could be loaded from beside the program";
  }
  // Loaded later, from System32 only: never through the import table.
  for (const char* dll :
       {"comctl32.dll", "riched20.dll", "msftedit.dll", "uxtheme.dll", "version.dll", "dwmapi.dll"})
    EXPECT_EQ(std::find(imports.begin(), imports.end(), dll), imports.end()) << dll;
  EXPECT_TRUE(ImportedDlls(*Image, 13, 32, 4).empty()) << "no delay-loaded DLLs";
}

TEST_F(PEHeaderTest, LinkedWithAslrAndDep) {
  const uint16_t flags = Image->DllCharacteristics();
  EXPECT_TRUE(flags & 0x0040) << "IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE";
  EXPECT_TRUE(flags & 0x0100) << "IMAGE_DLLCHARACTERISTICS_NX_COMPAT";
  // ASLR needs the relocations to move the image.
  EXPECT_NE(Image->Directory(5).first, 0u) << "base relocations";
}

// Sections laid out in the file as in memory let Wine map the image instead
// of reading it whole into private memory, payload included (Windows maps
// either way).
TEST_F(PEHeaderTest, SectionsAreLaidOutInPages) {
  EXPECT_EQ(Image->SectionAlignment(), 4096u);
  EXPECT_EQ(Image->FileAlignment(), Image->SectionAlignment());
}

TEST_F(PEHeaderTest, ManifestAsksForCommonControls6AndAdministrator) {
  const auto manifest = ResourceById(*Image, 24, 1);
  ASSERT_TRUE(manifest) << "RT_MANIFEST 1";
  const size_t controls = manifest->find("name=\"Microsoft.Windows.Common-Controls\"");
  ASSERT_NE(controls, std::string::npos) << *manifest;
  const size_t identityEnd = manifest->find("/>", controls);
  const size_t version = manifest->find("version=\"6.0.0.0\"", controls);
  EXPECT_TRUE(version != std::string::npos && version < identityEnd) << *manifest;
  EXPECT_NE(manifest->find("requestedExecutionLevel level=\"requireAdministrator\""),
            std::string::npos)
      << *manifest;
}

// Without DPI awareness Windows stretches the wizard as a bitmap; without a
// compatibility section it behaves as on Vista.
TEST_F(PEHeaderTest, ManifestDeclaresDpiAwarenessAndTheSupportedWindows) {
  const auto manifest = ResourceById(*Image, 24, 1);
  ASSERT_TRUE(manifest) << "RT_MANIFEST 1";
  for (const char* entry :
       {"<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
        "PerMonitorV2, system</dpiAwareness>",
        "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
        "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",  // Vista
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // 7
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // 8
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // 8.1
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"}) // 10 and 11
    EXPECT_NE(manifest->find(entry), std::string::npos) << entry;
}

} // namespace
