// Writes N MB of text-like content with some noise (it compresses to about a
// sixth, as program files do), for the large-payload install benchmark:
//   make_payload FILE MB
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_payload FILE MB\n");
    return 2;
  }
  const size_t size = std::strtoul(argv[2], nullptr, 10) << 20;
  FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  std::mt19937 gen(42);
  static const char* words[] = {"QLX ",   "Tessel ",   "shell ",  "extension ", "folder ",
                                "drive ", "registry ", "server ", "class ",     "install "};
  std::vector<char> block;
  size_t written = 0;
  while (written < size) {
    block.clear();
    while (block.size() < 65536) {
      if (gen() % 8 == 0)
        block.push_back(static_cast<char>(gen()));
      else
        for (const char* c = words[gen() % 10]; *c; ++c)
          block.push_back(*c);
    }
    const size_t n = std::min(block.size(), size - written);
    if (std::fwrite(block.data(), 1, n, out) != n) {
      std::perror(argv[1]);
      return 1;
    }
    written += n;
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
