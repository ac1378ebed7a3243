#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/process.h"

int user_is_administrator() { return geteuid() == 0 ? 1 : 0; }

namespace {

// MemTotal and MemAvailable of /proc/meminfo in bytes; false when either is
// missing (older kernels have no MemAvailable).
bool read_meminfo(std::uint64_t* total, std::uint64_t* available) {
  std::FILE* f = std::fopen("/proc/meminfo", "r");
  if (!f) return false;
  bool have_total = false, have_available = false;
  char line[256];
  while (std::fgets(line, sizeof line, f)) {
    unsigned long long kb = 0;
    if (std::sscanf(line, "MemTotal: %llu kB", &kb) == 1) {
      *total = kb * 1024;
      have_total = true;
    } else if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
      *available = kb * 1024;
      have_available = true;
    }
  }
  std::fclose(f);
  return have_total && have_available;
}

}  // namespace

int system_memory_status(std::uint64_t* total, std::uint64_t* available, std::uint32_t* load_percent) {
  *total = *available = 0;
  *load_percent = 0;
  if (!read_meminfo(total, available)) {
    struct sysinfo si {};
    if (sysinfo(&si) != 0) return -1;
    const std::uint64_t unit = si.mem_unit ? si.mem_unit : 1;
    *total = std::uint64_t{si.totalram} * unit;
    *available = (std::uint64_t{si.freeram} + si.bufferram) * unit;
  }
  if (*total == 0) return -1;
  if (*available > *total) *available = *total;
  *load_percent = static_cast<std::uint32_t>((*total - *available) * 100 / *total);
  return 0;
}

int system_memory_megabytes(unsigned* total, unsigned* available) {
  std::uint64_t t = 0, a = 0;
  std::uint32_t load = 0;
  const int r = system_memory_status(&t, &a, &load);
  *total = static_cast<unsigned>(t / (1024 * 1024));
  *available = static_cast<unsigned>(a / (1024 * 1024));
  return r;
}
