#include "engine/frame/hashes.h"
#include "engine/frame/types.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// Reference values of the published algorithms.
TEST(Hashes, Crc32KnownValues) {
  EXPECT_EQ(crc32_of("", 0), 0u);
  EXPECT_EQ(crc32_of("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(crc32_of("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
  // A running value over pieces equals the value of the whole.
  u32 crc = crc32_update(0, "12345", 5);
  EXPECT_EQ(crc32_update(crc, "6789", 4), 0xCBF43926u);
}

TEST(Hashes, MurmurHash2KnownValues) {
  // Values of a straightforward MurmurHash2 (seed 0) written apart from the
  // engine, for lengths 0..3 mod 4.
  struct Case {
    const char* text;
    u32 hash;
  } cases[] = {
      {"", 0x00000000u},
      {"a", 0x92685F5Eu},
      {"ab", 0x1AA14063u},
      {"abc", 0x13577C9Bu},
      {"abcd", 0x26873021u},
      {"Hello, world!", 0x403C1E05u},
      {"SYSTEM_START", 0x674E0092u},
  };
  for (const Case& c : cases) EXPECT_EQ(murmur_hash2(c.text, std::strlen(c.text)), c.hash) << c.text;
}
