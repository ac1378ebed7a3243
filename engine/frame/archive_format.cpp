#include "engine/frame/archive_format.h"

NameSwapTable g_name_swap_table;

void build_name_swap_table(NameSwapTable* table) {
  for (int i = 0; i < 256; ++i) table->map[i] = static_cast<u8>(i);
  for (const auto& pair : kNameSwapPairs) {
    table->map[pair[0]] = pair[1];
    table->map[pair[1]] = pair[0];
  }
}

int init_name_swap_table() {
  build_name_swap_table(&g_name_swap_table);
  return 0;
}
