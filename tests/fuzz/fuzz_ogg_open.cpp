// Fuzz target of the Ogg path: the input opened as a sound object's file,
// then two halves decoded and refilled, as the sound thread does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/frame/engine_state.h"
#include "engine/sound/sound.h"
#include "platform/audio.h"
#include "platform/platform.h"

// Whole allocation stacks: a leak inside the Vorbis libraries (which have no
// frame pointers) is then seen to come through ov_open_callbacks, the name
// lsan.supp knows it by.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool ready = false;
  if (!ready) {
    platform_select_fakes();
    g_errors_quiet = true;
    g_sound_switch = 1;
    g_sound_device_open = 0;  // decoding only: no device buffers
    ready = true;
  }
  if (size == 0 || size > 1000000) return 0;
  auto* sb = static_cast<SoundBuffer*>(std::calloc(1, sizeof(SoundBuffer)));
  sb->data = static_cast<u8*>(std::malloc(size));
  std::memcpy(sb->data, data, size);
  sb->data_size = static_cast<u32>(size);
  sb->codec = kCodecOgg;
  if (sound_open_stream(sb) == 0 && sb->bytes_per_sec > 0) {
    sb->decoder_loops = 2;
    if (sound_seek_ms(sb, static_cast<i32>(data[0]) - 100) == 0) {
      sb->write_offset = 0;
      if (sound_refill(sb) == 0) sound_refill(sb);
    }
  }
  sound_release_buffer(sb);
  std::free(sb);
  return 0;
}
