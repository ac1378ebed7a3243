#include "engine/vm/engine_file_list.h"

#include <cstring>
#include <memory>

#include "engine/vm/sysvars.h"

namespace {
struct Slot {
  char name[kFileNameSlotSize];
};
std::vector<std::unique_ptr<Slot>> g_file_list;

u32 cut(const std::string& s, u32 max) {
  u32 i = 0, n = static_cast<u32>(s.size());
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    u32 step = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < n ? 2 : 1;
    if (i + step > max) break;
    i += step;
  }
  return i;
}
}  // namespace

void set_engine_file_list(const std::vector<std::string>& names) {
  g_file_list.clear();
  for (const std::string& n : names) {
    auto slot = std::make_unique<Slot>();
    u32 len = cut(n, kFileNameSlotSize - 1);
    std::memcpy(slot->name, n.data(), len);
    slot->name[len] = 0;
    g_file_list.push_back(std::move(slot));
  }
  g_sysvar_store.value_15 = static_cast<i32>(g_file_list.size());
}

const char* sv_file_name_entry(i64 element) {
  if (element < 0 || element >= static_cast<i64>(g_file_list.size())) return nullptr;
  return g_file_list[static_cast<std::size_t>(element)]->name;
}
