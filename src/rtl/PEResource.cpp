#include "PEResource.h"

#include "SysUtils.h"

namespace rtl {

namespace {

// Bounds-checked little-endian reads within [FBegin, FEnd) of the image.
class TImageView {
public:
  TImageView(const uint8_t* data, size_t begin, size_t end)
      : FData(data), FBegin(begin), FEnd(end) {}

  [[noreturn]] static void Fail(const char* what) {
    throw EFilerError(std::string("Invalid PE image: ") + what);
  }
  void Check(uint64_t offset, uint64_t count, const char* what) const {
    if (offset < FBegin || offset > FEnd || count > FEnd - offset)
      Fail(what);
  }
  uint16_t U16(uint64_t offset, const char* what) const {
    Check(offset, 2, what);
    return static_cast<uint16_t>(FData[offset] | (FData[offset + 1] << 8));
  }
  uint32_t U32(uint64_t offset, const char* what) const {
    Check(offset, 4, what);
    return FData[offset] | (FData[offset + 1] << 8) | (FData[offset + 2] << 16) |
           (static_cast<uint32_t>(FData[offset + 3]) << 24);
  }

private:
  const uint8_t* FData;
  size_t FBegin;
  size_t FEnd;
};

struct TSection {
  uint32_t VirtualAddress = 0;
  uint32_t VirtualSize = 0;
  uint32_t RawOffset = 0;
  uint32_t RawSize = 0;
};

// The file range [offset, offset + count) of an RVA range, within one section.
bool RvaToOffset(const TImageView& file, uint64_t sectionTable, unsigned sections, uint32_t rva,
                 uint32_t count, uint64_t& offset, TSection& found) {
  for (unsigned i = 0; i < sections; ++i) {
    const uint64_t at = sectionTable + 40ull * i;
    TSection s;
    s.VirtualSize = file.U32(at + 8, "section table");
    s.VirtualAddress = file.U32(at + 12, "section table");
    s.RawSize = file.U32(at + 16, "section table");
    s.RawOffset = file.U32(at + 20, "section table");
    const uint64_t extent = s.VirtualSize > s.RawSize ? s.VirtualSize : s.RawSize;
    if (rva < s.VirtualAddress || rva - uint64_t{s.VirtualAddress} >= extent)
      continue;
    const uint64_t inSection = rva - uint64_t{s.VirtualAddress};
    // Bytes beyond the raw data are zero-filled in memory but absent here.
    if (inSection + count > s.RawSize)
      TImageView::Fail("resource data beyond its section");
    offset = uint64_t{s.RawOffset} + inSection;
    found = s;
    return true;
  }
  return false;
}

// The entry of a resource directory that matches; the entry's OffsetToData.
std::optional<uint32_t> FindEntry(const TImageView& res, uint64_t root, uint64_t dir,
                                  const std::optional<uint16_t>& id, const std::string& name) {
  const unsigned named = res.U16(dir + 12, "resource directory");
  const unsigned ids = res.U16(dir + 14, "resource directory");
  for (unsigned i = 0; i < named + ids; ++i) {
    const uint64_t entry = dir + 16 + 8ull * i;
    const uint32_t nameField = res.U32(entry, "resource directory entry");
    const uint32_t data = res.U32(entry + 4, "resource directory entry");
    const bool isName = (nameField & 0x80000000u) != 0;
    if (id) {
      if (!isName && (nameField & 0xFFFF) == *id)
        return data;
      continue;
    }
    if (!isName)
      continue;
    const uint64_t str = root + (nameField & 0x7FFFFFFFu);
    const unsigned length = res.U16(str, "resource name");
    res.Check(str + 2, 2ull * length, "resource name");
    if (length != name.size())
      continue;
    bool same = true;
    for (unsigned k = 0; k < length && same; ++k) {
      uint16_t c = res.U16(str + 2 + 2ull * k, "resource name");
      char n = name[k];
      if (c >= 'a' && c <= 'z')
        c = static_cast<uint16_t>(c - 32);
      if (n >= 'a' && n <= 'z')
        n = static_cast<char>(n - 32);
      same = c == static_cast<uint8_t>(n);
    }
    if (same)
      return data;
  }
  return std::nullopt;
}

uint64_t SubDirectory(uint64_t root, uint32_t data) {
  if (!(data & 0x80000000u))
    TImageView::Fail("resource directory entry is not a directory");
  return root + (data & 0x7FFFFFFFu);
}

} // namespace

bool IsPEImage(const uint8_t* data, size_t size) {
  return size >= 2 && data[0] == 'M' && data[1] == 'Z';
}

std::optional<TPEResourceSpan> FindPEResource(const uint8_t* data, size_t size, uint16_t type,
                                              const std::string& name) {
  const TImageView file(data, 0, size);
  if (!IsPEImage(data, size))
    TImageView::Fail("no MZ signature");
  const uint64_t pe = file.U32(0x3C, "DOS header");
  if (file.U32(pe, "PE header") != 0x00004550u)
    TImageView::Fail("no PE signature");
  const unsigned sections = file.U16(pe + 6, "file header");
  const unsigned optionalSize = file.U16(pe + 20, "file header");
  const uint64_t opt = pe + 24;
  const uint16_t magic = file.U16(opt, "optional header");
  uint64_t dirCountAt;
  if (magic == 0x10B)
    dirCountAt = opt + 92;
  else if (magic == 0x20B)
    dirCountAt = opt + 108;
  else
    TImageView::Fail("unknown optional header");
  const uint64_t resourceDirAt = dirCountAt + 4 + 2 * 8;
  if (file.U32(dirCountAt, "optional header") <= 2 || resourceDirAt + 8 > opt + optionalSize)
    return std::nullopt; // no resource directory
  const uint32_t resourceRva = file.U32(resourceDirAt, "data directory");
  if (resourceRva == 0)
    return std::nullopt;
  const uint64_t sectionTable = opt + optionalSize;
  file.Check(sectionTable, 40ull * sections, "section table");

  uint64_t root = 0;
  TSection section;
  if (!RvaToOffset(file, sectionTable, sections, resourceRva, 16, root, section))
    TImageView::Fail("resource directory outside every section");
  // Every offset of the resource tree must stay within the resource section.
  const uint64_t sectionEnd = uint64_t{section.RawOffset} + section.RawSize;
  if (sectionEnd > size)
    TImageView::Fail("section beyond the end of the file");
  const TImageView res(data, static_cast<size_t>(root), static_cast<size_t>(sectionEnd));

  const auto typeEntry = FindEntry(res, root, root, type, "");
  if (!typeEntry)
    return std::nullopt;
  const auto nameEntry = FindEntry(res, root, SubDirectory(root, *typeEntry), std::nullopt, name);
  if (!nameEntry)
    return std::nullopt;
  const uint64_t langDir = SubDirectory(root, *nameEntry);
  if (res.U16(langDir + 12, "resource directory") + res.U16(langDir + 14, "resource directory") ==
      0)
    return std::nullopt;
  const uint32_t dataEntry = res.U32(langDir + 16 + 4, "resource directory entry");
  if (dataEntry & 0x80000000u)
    TImageView::Fail("resource data entry is a directory");
  const uint64_t entry = root + dataEntry;
  const uint32_t dataRva = res.U32(entry, "resource data entry");
  const uint32_t dataSize = res.U32(entry + 4, "resource data entry");
  uint64_t offset = 0;
  TSection dataSection;
  if (!RvaToOffset(file, sectionTable, sections, dataRva, dataSize, offset, dataSection))
    TImageView::Fail("resource data outside every section");
  file.Check(offset, dataSize, "resource data beyond the end of the file");
  return TPEResourceSpan{static_cast<size_t>(offset), dataSize};
}

} // namespace rtl
