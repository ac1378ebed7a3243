#include <sys/sysinfo.h>
#include <unistd.h>

#include "platform/process.h"

int user_is_administrator() { return geteuid() == 0 ? 1 : 0; }

int system_memory_megabytes(unsigned* total, unsigned* available) {
  *total = *available = 0;
  struct sysinfo si {};
  if (sysinfo(&si) != 0) return -1;
  const unsigned long long unit = si.mem_unit ? si.mem_unit : 1;
  *total = static_cast<unsigned>(si.totalram * unit / (1024 * 1024));
  *available = static_cast<unsigned>((si.freeram + si.bufferram) * unit / (1024 * 1024));
  return 0;
}
