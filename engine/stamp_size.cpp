// Build step: records the program file's built size inside the file itself,
// in the size record that the engine reads at start-up to find an archive
// appended behind the program.
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kl_stamp_size PROGRAM\n");
    return 2;
  }
  std::FILE* f = std::fopen(argv[1], "r+b");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<unsigned char> bytes;
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  // The record is the 12-byte marker "ZT_RES\0" "201\0\0" followed by the u32 size.
  static const unsigned char marker[12] = {'Z', 'T', '_', 'R', 'E', 'S', 0, '2', '0', '1', 0, 0};
  size_t found = 0, at = 0;
  for (size_t i = 0; i + 16 <= bytes.size(); ++i)
    if (std::memcmp(&bytes[i], marker, 12) == 0) {
      ++found;
      at = i + 12;
    }
  if (found != 1) {
    std::fprintf(stderr, "kl_stamp_size: %zu size records in %s\n", found, argv[1]);
    std::fclose(f);
    return 1;
  }
  unsigned long size = bytes.size();
  unsigned char le[4] = {static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8),
                         static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24)};
  std::fseek(f, static_cast<long>(at), SEEK_SET);
  std::fwrite(le, 1, 4, f);
  std::fclose(f);
  return 0;
}
