// Extraction speed and memory: ExtractToFile against a plain zlib
// inflate-and-write loop over the same stored data, in one run.
//   extract_bench [MB] [folder]
#include "mx/mxStorage.h"
#include "rtl/SysUtils.h"

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace {

// Resident set now and its peak since the last reset, in KiB.
long StatusKiB(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind(key, 0) == 0)
      return std::atol(line.c_str() + std::strlen(key));
  return -1;
}

void ResetPeak() {
  std::ofstream f("/proc/self/clear_refs");
  f << "5";
}

// Text-like content with some noise: compresses to about a third.
std::vector<uint8_t> Payload(size_t size) {
  std::mt19937 gen(42);
  static const char* words[] = {"QLX ",   "Tessel ",   "shell ",  "extension ", "folder ",
                                "drive ", "registry ", "server ", "class ",     "install "};
  std::vector<uint8_t> v;
  v.reserve(size);
  while (v.size() < size) {
    if (gen() % 8 == 0) {
      v.push_back(static_cast<uint8_t>(gen()));
      continue;
    }
    for (const char* c = words[gen() % 10]; *c && v.size() < size; ++c)
      v.push_back(static_cast<uint8_t>(*c));
  }
  return v;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The peer: inflate the stored data and write it, 64 KiB at a time.
void PlainInflate(const std::vector<uint8_t>& data, const std::string& path) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out)
    throw std::runtime_error("cannot create " + path);
  z_stream z{};
  inflateInit(&z);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  std::vector<Bytef> buf(65536);
  bool skipPrefix = true;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    z.next_out = buf.data();
    z.avail_out = static_cast<uInt>(buf.size());
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc < 0)
      throw std::runtime_error("inflate failed");
    size_t have = buf.size() - z.avail_out, from = 0;
    if (skipPrefix && have >= 4) {
      from = 4;
      skipPrefix = false;
    }
    std::fwrite(buf.data() + from, 1, have - from, out);
  }
  inflateEnd(&z);
  std::fclose(out);
}

} // namespace

int main(int argc, char** argv) {
  const size_t mb = argc > 1 ? static_cast<size_t>(std::atol(argv[1])) : 128;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const std::string target = dir + "/qlx_bench_extract.bin";
  const std::string peer = dir + "/qlx_bench_plain.bin";

  mx::TmxStorage store(nullptr);
  auto* item = static_cast<mx::TmxStoredItem*>(store.StoredItems()->Add());
  {
    auto content = Payload(mb << 20);
    rtl::TMemoryStream src;
    src.WriteBuffer(content.data(), static_cast<int32_t>(content.size()));
    item->LoadFromStream(&src);
  }
  const std::vector<uint8_t> data = item->Data().Bytes();
  const double compressedMB = static_cast<double>(item->Size()) / (1 << 20);
  const double contentMB = static_cast<double>(item->FileSize()) / (1 << 20);

  // Memory first, before any other path has left buffers for malloc to reuse.
  ResetPeak();
  const long before = StatusKiB("VmRSS:");
  item->ExtractToFile(target);
  const long peakAdded = StatusKiB("VmHWM:") - before;

  // Then speed: best of five, the two paths taking turns.
  PlainInflate(data, peer);
  double best[2] = {1e9, 1e9};
  for (int round = 0; round < 5; ++round) {
    auto t = std::chrono::steady_clock::now();
    item->ExtractToFile(target);
    best[0] = std::min(best[0], Seconds(t));

    t = std::chrono::steady_clock::now();
    PlainInflate(data, peer);
    best[1] = std::min(best[1], Seconds(t));
  }
  std::remove(target.c_str());
  std::remove(peer.c_str());

  const double extractRate = contentMB / best[0];
  const double plainRate = contentMB / best[1];
  std::printf("content %.1f MB, stored (compressed) %.1f MB\n", contentMB, compressedMB);
  std::printf("ExtractToFile      %8.1f MB/s\n", extractRate);
  std::printf("zlib inflate+write %8.1f MB/s\n", plainRate);
  std::printf("ratio              %8.3f (target >= 0.9)\n", extractRate / plainRate);
  std::printf(
      "peak memory added by extraction: %ld KiB (target <= compressed %.0f KiB + 2048 KiB)\n",
      peakAdded, compressedMB * 1024);
  return 0;
}
