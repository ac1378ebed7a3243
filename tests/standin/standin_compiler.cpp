// A stand-in for the outside script compiler, for the bridge's tests: it
// answers the engine through the two shared-memory blocks as a compiler
// would. KL_STANDIN_COMPILER picks what it does:
//   normal      checks the engine's version and folder, hands over every
//               file below KL_STANDIN_FILES (names relative, '\' separated),
//               writes KL_STANDIN_PROJECT (if set) as the project folder,
//               result 1
//   early_exit  ends before it is ready
//   fail        as normal, with result 0
//   zero_files  result 1 and no files
//   overrun     one item whose name length passes the end of the list
//   hang        never ends after go
//   huge_list   as normal, stating a list size of nearly 4 GiB
//   crowded     as normal, stating more files than the list's size holds
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put_u32_at(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get_u32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The engine's blocks carry the user's id: "/<name>.<uid>".
std::uint8_t* map_block(const char* name, std::size_t size) {
  const std::string object = std::string("/") + name + "." + std::to_string(getuid());
  int fd = shm_open(object.c_str(), O_RDWR, 0);
  if (fd < 0) return nullptr;
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
}

std::string backslashed(std::string s) {
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const char* m = std::getenv("KL_STANDIN_COMPILER");
  const std::string mode = m ? m : "normal";
  if (mode == "early_exit") return 0;
  if (argc != 2 || std::strcmp(argv[1], "zt") != 0) return 2;
  std::uint8_t* block = map_block("ZE-TARCompilerFileMapObject", 512);
  if (!block) return 3;
  // The engine's version, and its folder: the one this program runs in.
  if (get_u32(block + 128) != 554) return 4;
  std::string folder(reinterpret_cast<const char*>(block + 132));
  if (folder.size() > 1 && folder.back() == '\\') folder.pop_back();
  if (folder != backslashed(std::filesystem::current_path().string())) return 5;

  std::vector<std::uint8_t> list;
  std::uint32_t count = 0;
  if (mode == "overrun") {
    put_u32(list, 1000);
    list.insert(list.end(), {'a', 0});
    count = 1;
  } else if (mode != "zero_files") {
    const char* files = std::getenv("KL_STANDIN_FILES");
    if (files) {
      const std::filesystem::path root(files);
      for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::string name = backslashed(std::filesystem::relative(e.path(), root).string());
        std::ifstream in(e.path(), std::ios::binary);
        std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        put_u32(list, static_cast<std::uint32_t>(name.size() + 1));
        list.insert(list.end(), name.begin(), name.end());
        list.push_back(0);
        put_u32(list, static_cast<std::uint32_t>(data.size()));
        list.insert(list.end(), data.begin(), data.end());
        ++count;
      }
    }
  }
  if (const char* project = std::getenv("KL_STANDIN_PROJECT")) {
    std::memset(block + 132, 0, 512 - 132);
    std::strncpy(reinterpret_cast<char*>(block + 132), backslashed(project).c_str(), 512 - 132 - 1);
  }
  block[12] = mode == "fail" ? 0 : 1;
  put_u32_at(block + 16, mode == "crowded" ? count + 1000 : count);
  put_u32_at(block + 20, mode == "huge_list" ? 0xFFFFFFF0u : static_cast<std::uint32_t>(list.size()));
  __atomic_store_n(reinterpret_cast<std::uint32_t*>(block), 1u, __ATOMIC_RELEASE);
  // Go comes once the engine has made the list's block.
  for (int i = 0; __atomic_load_n(reinterpret_cast<std::uint32_t*>(block + 4), __ATOMIC_ACQUIRE) != 1; ++i) {
    if (i > 30000) return 6;
    usleep(1000);
  }
  if (!list.empty()) {
    std::uint8_t* out = map_block("ZE-TARCompilerFileMapObject2", list.size());
    if (!out) return 7;
    std::memcpy(out, list.data(), list.size());
  }
  if (mode == "hang")
    for (;;) pause();
  return 0;
}
