// What the sound thread does to one sound object: load the file, open it as
// WAVE (PCM from the image, other formats converted to PCM) or Ogg Vorbis
// (decoded while playing), keep a one-second audio buffer filled half by
// half, follow the play cursor to loop ends and the end, and turn the
// engine's volume, pan and rate scales into the device's.
#include <vorbis/vorbisfile.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/frame/data_item.h"
#include "engine/frame/engine_state.h"
#include "engine/frame/media_locator.h"
#include "engine/frame/sjis_text.h"
#include "engine/sound/sound.h"
#include "engine/sound/wave_riff.h"
#include "engine/vm/object_tree.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/sound_convert.h"

namespace {
const PlatformAudio* audio() { return g_platform.audio; }
u32 now_ms() { return g_platform.clock->now_ms(); }

bool is_sound_object(ObjectNode* node) { return node && node->name && sound_record(node); }

// The memory reader handed to vorbisfile, over the record's file image.
size_t mem_read(void* ptr, size_t size, size_t count, void* source) {
  auto* sb = static_cast<SoundBuffer*>(source);
  if (sb->read_pos >= sb->data_size) return 0;
  u64 want = static_cast<u64>(size) * count;
  u64 left = sb->data_size - sb->read_pos;
  u64 n = want < left ? want : left;
  std::memcpy(ptr, sb->data + sb->read_pos, static_cast<size_t>(n));
  sb->read_pos += static_cast<u32>(n);
  return static_cast<size_t>(n);
}

int mem_seek(void* source, ogg_int64_t offset, int origin) {
  auto* sb = static_cast<SoundBuffer*>(source);
  const u32 off = static_cast<u32>(offset);
  switch (origin) {
    case SEEK_SET: sb->read_pos = off; break;
    case SEEK_CUR: sb->read_pos += off; break;
    case SEEK_END: sb->read_pos = sb->data_size + off; break;
    default: return -1;
  }
  return 0;
}

int mem_close(void*) { return 1; }
long mem_tell(void* source) { return static_cast<long>(static_cast<SoundBuffer*>(source)->read_pos); }

const ov_callbacks kMemoryCallbacks = {mem_read, mem_seek, mem_close, mem_tell};

int open_decoder(SoundBuffer* sb, OggVorbis_File* vf) {
  sb->read_pos = 0;
  return ov_open_callbacks(sb, vf, nullptr, 0, kMemoryCallbacks);
}

// The stream's kept decoder, opened when it has none; null when the file
// does not open. Opening costs the headers' parse and the first seek reads
// pages from the file, so a stream that goes on in the same file keeps it
// from half to half.
OggVorbis_File* kept_decoder(SoundBuffer* sb) {
  if (sb->ogg_decoder) return static_cast<OggVorbis_File*>(sb->ogg_decoder);
  auto* vf = static_cast<OggVorbis_File*>(std::calloc(1, sizeof(OggVorbis_File)));
  if (!vf) return nullptr;
  if (open_decoder(sb, vf) < 0) {
    std::free(vf);
    return nullptr;
  }
  sb->ogg_decoder = vf;
  return vf;
}

u8 silence_byte(const SoundBuffer* sb) { return sb->format.bits == 8 ? 0x80 : 0x00; }

i64 round_block(const SoundBuffer* sb, i64 v) {
  const i64 b = sb->format.block_align ? sb->format.block_align : 1;
  return v / b * b;
}

// The lead-in, the decoder's byte position and, for WAVE, the read offset
// for a seek to ms. Ogg's position is set by its caller.
i32 seek_common(SoundBuffer* sb, i32 ms) {
  if (ms >= sb->length_ms) ms = static_cast<i32>(sb->length_ms - 10);
  if (ms < 0) {
    sb->silence_left = round_block(sb, sb->silence_left + static_cast<i64>(-ms) * sb->bytes_per_sec / 1000);
  }
  sb->source_pos = static_cast<i32>(static_cast<i64>(ms) * sb->bytes_per_sec / 1000);
  return ms;
}

int ogg_seek_ms(SoundBuffer* sb, OggVorbis_File* vf, i32 ms) {
  ms = seek_common(sb, ms);
  if (ov_time_seek(vf, (ms > 0 ? ms : 0) / 1000.0) != 0) return -2020;
  sb->stream_pos = ov_pcm_tell(vf);
  return 0;
}

int wave_seek_ms(SoundBuffer* sb, i32 ms) {
  ms = seek_common(sb, ms);
  i64 at = round_block(sb, static_cast<i64>(ms > 0 ? ms : 0) * sb->bytes_per_sec / 1000);
  if (at >= sb->pcm_size) at = static_cast<i64>(sb->pcm_size) - sb->format.block_align;
  if (at < 0) at = 0;
  sb->stream_pos = at;
  return 0;
}

// Fills one half of half_buffer from the decoder (vf for Ogg, the PCM for
// WAVE), with the carried bytes first, looping as the loop count says.
int decode_half(SoundBuffer* sb, OggVorbis_File* vf) {
  const i64 half = sb->buffer_bytes / 2;
  u8* out = sb->half_buffer;
  i64 filled = 0;
  if (sb->carried > 0) {
    std::memcpy(out, sb->carry, static_cast<size_t>(sb->carried));
    filled = sb->carried;
  }
  sb->carried = 0;
  i64 decoded = 0;
  // A pass from the loop point that yields nothing (an end at or before the
  // loop point, or too close to it for the decoder) would loop for ever:
  // the rest of the half is silence then.
  bool wrapped_empty = false;
  while (filled < half) {
    if (sb->silence_left > 0) {
      i64 n = sb->silence_left < half - filled ? sb->silence_left : half - filled;
      std::memset(out + filled, silence_byte(sb), static_cast<size_t>(n));
      sb->silence_left -= n;
      filled += n;
      continue;
    }
    const i64 end_bytes = static_cast<i64>(sb->end_ms) * sb->bytes_per_sec / 1000;
    i64 chunk = 4096;
    if (sb->source_pos + decoded + 4096 >= end_bytes) chunk = round_block(sb, end_bytes - (sb->source_pos + decoded));
    if (chunk < 0) chunk = 0;
    i64 got = 0;
    if (vf) {
      if (chunk >= 32) {
        int stream = 0;
        long r = ov_read(vf, reinterpret_cast<char*>(out + filled), static_cast<int>(chunk), 0, 2, 1, &stream);
        if (r < 0) {
          std::free(sb->half_buffer);
          sb->half_buffer = nullptr;
          if (r == OV_HOLE) return -90001;
          if (r == OV_EBADLINK) return -90002;
          return static_cast<int>(r);
        }
        got = r;
      }
    } else {
      i64 left = static_cast<i64>(sb->pcm_size) - sb->stream_pos;
      got = chunk < left ? chunk : left;
      if (got < 0) got = 0;
      if (got > 0) std::memcpy(out + filled, sb->pcm + sb->stream_pos, static_cast<size_t>(got));
      sb->stream_pos += got;
    }
    if (got > 0) {
      filled += got;
      decoded += got;
      wrapped_empty = false;
      continue;
    }
    if (sb->decoder_loops == 1 || wrapped_empty) {
      std::memset(out + filled, silence_byte(sb), static_cast<size_t>(half - filled));
      filled = half;
      break;
    }
    sb->decoder_loops = sb->decoder_loops - 1 > 0 ? sb->decoder_loops - 1 : 0;
    // The loop point is put back to 0 before the tracker gets it, so the
    // tracker does not jump past the end and count a pass twice.
    if (sb->loop_ms >= sb->end_ms) sb->loop_ms = 0;
    sb->pending_end_ms = sb->end_ms;
    sb->pending_loop_ms = sb->loop_ms;
    if (vf) {
      if (ogg_seek_ms(sb, vf, sb->loop_ms) != 0) return -2020;
    } else {
      wave_seek_ms(sb, sb->loop_ms);
    }
    decoded = 0;
    wrapped_empty = true;
  }
  sb->source_pos += static_cast<i32>(decoded);
  if (vf) sb->stream_pos = ov_pcm_tell(vf);
  const i64 over = filled - half;
  sb->carried = static_cast<i32>(over > 0 ? over : 0);
  if (sb->carried > 0) std::memcpy(sb->carry, out + half, static_cast<size_t>(sb->carried));
  return 0;
}

int ogg_refill(SoundBuffer* sb) {
  OggVorbis_File* vf = kept_decoder(sb);
  if (!vf) return -3010;
  // The kept decoder stands where the last half ended; it is moved only
  // when the stream position was set elsewhere.
  if (ov_pcm_tell(vf) != sb->stream_pos && ov_pcm_seek(vf, sb->stream_pos) != 0) {
    sound_close_decoder(sb);
    return -3020;
  }
  int r = decode_half(sb, vf);
  if (r < 0) {
    sound_close_decoder(sb);
    return r;
  }
  return sound_write_half(sb, sb->write_offset) < 0 ? -3030 : 0;
}

int wave_refill(SoundBuffer* sb) {
  int r = decode_half(sb, nullptr);
  if (r < 0) return r;
  return sound_write_half(sb, sb->write_offset) < 0 ? -3030 : 0;
}

// The compression manager's results as the sound thread's codes.
int acm_error_code(u32 r) {
  switch (r) {
    case kConvertOk: return 0;
    case kConvertNotPossible: return -10310;
    case kConvertInvalFlag: return -10320;
    case kConvertInvalHandle: return -10330;
    case kConvertInvalParam: return -10340;
    case kConvertNoMem: return -10350;
    default: return -10300;  // any other failure is a failure too
  }
}

// Sounding objects found while the run is ending fall silent at once.
bool quit_silence(ObjectNode* node, SoundBuffer* sb) {
  if (sb->state >= kSoundLoaded && g_quit_requested) {
    sound_near_silent(node);
    sb->state = kSoundIdle;
    return true;
  }
  return false;
}

// Objects whose buffer the walks follow: sounding, not suspended, not muted.
bool streaming(const SoundBuffer* sb) {
  return sb->state >= kSoundFadingIn && sb->state <= kSoundFadingOut && sb->suspend_time == 0 &&
         !g_sound_focus_muted;
}

// Leaf: volume 0; group: its children's own volumes again.
void silence_node(ObjectNode* node) {
  if (node->is_group) {
    sound_update_tree(node->first_child);
  } else {
    sound_apply_volume(node, 0);
  }
}

i32 ms_of(const SoundBuffer* sb, i64 bytes) {
  return sb->bytes_per_sec > 0 ? static_cast<i32>(bytes * 1000 / sb->bytes_per_sec) : 0;
}

// Seeks to start_ms, fills the first half and starts the buffer (play and
// resume share it). play_failure is the code of a failed start.
int start_from(ObjectNode* node, SoundBuffer* sb, int play_failure, i32 volume) {
  if (sb->start_ms >= sb->end_ms) sb->start_ms = 0;
  int r = sound_seek_ms(sb, sb->start_ms);
  if (r < 0) return r;
  sb->position = sb->source_pos;
  sb->last_half = 1;
  sb->write_offset = 0;
  r = sound_refill(sb);
  if (r < 0) return r;
  if (g_sound_device_open && sb->buffer) {
    if (volume < 0) {
      sound_apply_volume(node, 0);
    } else {
      sound_set_volume(node, volume);
    }
    sound_apply_pan(sb, sb->pan);
    sound_apply_rate(sb, sb->rate);
    audio()->set_position(sb->buffer, 0);
    if (audio()->play(sb->buffer, 1) != kAudioOk) return play_failure;
  }
  return 0;
}

void set_fade_rate(SoundBuffer* sb, i64 difference) {
  sb->fade_rate = static_cast<i32>(sb->fade_ms != 0 ? difference * 1024 / sb->fade_ms : difference * 1024);
}

template <class F>
int walk(ObjectNode* first, F&& f) {
  for (ObjectNode* n = first; n; n = n->next) {
    if (SoundBuffer* sb = sound_record(n)) {
      int r = f(n, sb);
      if (r < 0) return r;
    }
    if (n->is_group) {
      int r = walk(n->first_child, f);
      if (r < 0) return r;
    }
  }
  return 0;
}

ObjectNode* entry_node(u32 e) { return g_sound_queue.node[e]; }
i32 entry_value(u32 e) { return g_sound_queue.value[e]; }
}  // namespace

// ---- scales ----
i32 sound_volume_hundredths(i32 v) {
  if (v <= 0) return kAudioVolumeMin;
  double d = std::trunc(4000.0 * std::log10(v / 256.0));
  if (d < kAudioVolumeMin) d = kAudioVolumeMin;
  if (d > 0) d = 0;
  return static_cast<i32>(d);
}

i32 sound_pan_hundredths(i32 p) {
  if (p < 0 || p > 512) p = 256;
  const bool right = p >= 257;
  const i32 q = right ? 512 - p : p;
  i32 h = q == 0 ? kAudioVolumeMin : sound_volume_hundredths(q);
  return right ? -h : h;
}

u32 sound_rate_frequency(u32 f, i32 r) {
  if (r < 0 || r > 512) r = 256;
  const i64 fi = f;
  return static_cast<u32>(fi + ((r - 256) * (fi / 2)) / 256);
}

void make_silent_sound(u8 out[kSilentSoundSize]) {
  auto put32 = [](u8* p, u32 v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<u8>(v >> (8 * i));
  };
  auto put16 = [](u8* p, u16 v) {
    p[0] = static_cast<u8>(v);
    p[1] = static_cast<u8>(v >> 8);
  };
  std::memcpy(out, "RIFF", 4);
  put32(out + 4, 4036);
  std::memcpy(out + 8, "WAVEfmt ", 8);
  put32(out + 16, 16);
  put16(out + 20, 1);
  put16(out + 22, 1);
  put32(out + 24, 8000);
  put32(out + 28, 8000);
  put16(out + 32, 1);
  put16(out + 34, 8);
  std::memcpy(out + 36, "data", 4);
  put32(out + 40, 4000);
  std::memset(out + 44, 0x80, 4000);
}

// ---- loading and opening ----
int sound_load(SoundBuffer* sb, i64 order_key) {
  if (sb->data) return -1010;
  sb->data_form = kFormPcmImage;
  if (order_key == kSoundSilentId) {
    sb->data = static_cast<u8*>(std::malloc(kSilentSoundSize));
    if (sb->data) {
      make_silent_sound(sb->data);
      sb->data_size = kSilentSoundSize;
    }
  } else {
    std::string name(sb->name);
    lowercase_sjis_path(name.data());
    replace_char_sjis(name.data(), '/', '\\');
    DataItem item;
    if (name.empty() || find_and_load_data_item(&item, name.c_str()) != 0 || !item.data) {
      free_data_item(&item);
      return -1020;
    }
    sb->data = item.data;
    sb->data_size = item.size;
  }
  return sound_open_stream(sb);
}

int sound_open_stream(SoundBuffer* sb) {
  if (g_sound_switch == 0) return 0;
  if (sb->codec == kCodecOgg) return ogg_open(sb);
  if (sb->codec == kCodecWave) {
    if (sb->data_form == kFormConverted && sb->data) {
      // Converted PCM is kept without its file around it: only the buffer
      // is made again.
      sb->pcm = sb->data;
      sb->pcm_size = sb->data_size;
      const SoundPcmFormat f = sb->format;
      return create_sound_buffer(sb, f.channels, f.samples_per_sec, f.avg_bytes_per_sec, f.block_align, f.bits);
    }
    return wave_open(sb);
  }
  return -1020;
}

int ogg_open(SoundBuffer* sb) {
  sound_close_decoder(sb);
  OggVorbis_File* vf = kept_decoder(sb);
  if (!vf) return -1030;
  int code = 0;
  const vorbis_info* info = nullptr;
  if (ov_seekable(vf) == 0) {
    code = -1040;
  } else if (ov_streams(vf) != 1) {
    code = -1045;
  } else if ((info = ov_info(vf, -1)) == nullptr) {
    code = -1050;
  }
  if (code != 0) {
    sound_close_decoder(sb);
    return code;
  }
  const double total = ov_time_total(vf, -1);
  sb->length_ms = sb->end_ms = static_cast<i32>(total > 0 ? std::trunc(total * 1000.0) : 0);
  sb->data_form = kFormOgg;
  const u16 channels = static_cast<u16>(info->channels);
  const u32 rate = static_cast<u32>(info->rate);
  // The decoder that read the headers is kept for the first seek.
  return create_sound_buffer(sb, channels, rate, channels * rate * 2, static_cast<u16>(channels * 2), 16);
}

int wave_open(SoundBuffer* sb) {
  WaveChunks chunks;
  int r = wave_find_chunks(sb->data, sb->data_size, &chunks);
  if (r < 0) return r;
  WaveFormatFields f = wave_format_fields(chunks.fmt, chunks.fmt_size);
  if (f.format_tag == 1) {
    const u8* pcm = nullptr;
    u32 pcm_size = 0;
    if (parse_wave_chunks(sb->data, sb->data_size, &f, &pcm, &pcm_size) != 0) return kWaveErrPcm;
    // A zero block size or rate would divide by zero at every position.
    if (f.block_align == 0 || f.samples_per_sec == 0 || f.channels == 0) return kWaveErrPcm;
    sb->data_form = kFormPcmImage;
    sb->pcm = const_cast<u8*>(pcm);
    sb->pcm_size = pcm_size / f.block_align * f.block_align;
  } else {
    const PlatformSoundConvert* conv = g_platform.sound_convert;
    WaveFormatFields out;
    u32 s = conv->suggest_pcm(chunks.fmt, chunks.fmt_size, &out);
    if (s != kConvertOk) return acm_error_code(s);
    std::vector<u8> converted;
    u32 c = conv->convert(chunks.fmt, chunks.fmt_size, chunks.data, chunks.data_size, &converted);
    if (c != kConvertOk) return acm_error_code(c);
    u8* pcm = static_cast<u8*>(std::malloc(converted.empty() ? 1 : converted.size()));
    if (!pcm) return -10220;
    if (!converted.empty()) std::memcpy(pcm, converted.data(), converted.size());
    std::free(sb->data);
    sb->data = pcm;
    sb->data_size = static_cast<u32>(converted.size());
    sb->pcm = pcm;
    sb->pcm_size = sb->data_size;
    sb->data_form = kFormConverted;
    f = out;
  }
  const i64 per_sec = static_cast<i64>(f.block_align) * f.samples_per_sec;
  sb->length_ms = per_sec > 0 ? static_cast<i64>(sb->pcm_size) * 1000 / per_sec : 0;
  sb->end_ms = static_cast<i32>(sb->length_ms);
  return create_sound_buffer(sb, f.channels, f.samples_per_sec, f.avg_bytes_per_sec, f.block_align, f.bits);
}

int create_sound_buffer(SoundBuffer* sb, u16 channels, u32 samples_per_sec, u32 avg_bytes, u16 block_align,
                        u16 bits) {
  sb->format = SoundPcmFormat{1, channels, samples_per_sec, avg_bytes, block_align, bits};
  sb->bytes_per_sec = static_cast<i64>(block_align) * samples_per_sec;
  // One second, made an even number of blocks so both halves start on a block.
  u64 frames = samples_per_sec + (samples_per_sec & 1);
  u64 bytes = static_cast<u64>(block_align) * frames;
  if (block_align == 0 || bytes == 0 || bytes > 0x10000000u) return -1120;
  sb->buffer_bytes = static_cast<u32>(bytes);
  if (sb->carry) return -1060;
  sb->carry = static_cast<u8*>(std::calloc(1, 4096));
  if (!sb->carry) return -1070;
  if (sb->half_buffer) return -1080;
  sb->half_buffer = static_cast<u8*>(std::calloc(1, sb->buffer_bytes / 2 + 4096));
  if (!sb->half_buffer) return -1090;
  if (!g_sound_device_open) return 0;
  AudioFormat af;
  af.channels = channels;
  af.samples_per_sec = samples_per_sec;
  af.bits = bits;
  af.block_align = block_align;
  if (audio()->create_buffer(&af, sb->buffer_bytes, &sb->buffer) != kAudioOk) {
    sb->buffer = nullptr;
    return -1120;
  }
  return 0;
}

int sound_seek_ms(SoundBuffer* sb, i32 ms) {
  if (sb->data_form == kFormOgg) {
    OggVorbis_File* vf = kept_decoder(sb);
    if (!vf) return -2010;
    int r = ogg_seek_ms(sb, vf, ms);
    if (r < 0) sound_close_decoder(sb);
    return r;
  }
  return wave_seek_ms(sb, ms);
}

int sound_refill(SoundBuffer* sb) {
  if (!sb->half_buffer || sb->buffer_bytes == 0) return 0;
  return sb->data_form == kFormOgg ? ogg_refill(sb) : wave_refill(sb);
}

int sound_write_half(SoundBuffer* sb, u32 offset) {
  if (!sb->buffer || !g_sound_device_open) return 0;
  const u32 half = sb->buffer_bytes / 2;
  void *p1 = nullptr, *p2 = nullptr;
  u32 n1 = 0, n2 = 0;
  if (audio()->lock(sb->buffer, offset, half, &p1, &n1, &p2, &n2) != kAudioOk) return -3040;
  std::memcpy(p1, sb->half_buffer, n1);
  if (p2 && n2) std::memcpy(p2, sb->half_buffer + n1, n2);
  audio()->unlock(sb->buffer, p1, n1, p2, n2);
  return 0;
}

// ---- the walks ----
int sound_refill_streams(ObjectNode* first) {
  return walk(first, [](ObjectNode* node, SoundBuffer* sb) -> int {
    if (quit_silence(node, sb)) return 0;
    if (!streaming(sb)) return 0;
    if (!sb->buffer) return g_sound_device_open ? -330 : 0;
    u32 play = 0, w = 0;
    if (audio()->get_position(sb->buffer, &play, &w) != kAudioOk) return -340;
    const u32 half = sb->buffer_bytes / 2;
    if (sb->last_half == 1 && w < half) {
      sb->last_half = 2;
      sb->write_offset = half;
      return sound_refill(sb);
    }
    if (sb->last_half == 2 && w > half) {
      sb->last_half = 1;
      sb->write_offset = 0;
      return sound_refill(sb);
    }
    return 0;
  });
}

int update_sound_streams(ObjectNode* first) {
  return walk(first, [](ObjectNode* node, SoundBuffer* sb) -> int {
    if (quit_silence(node, sb)) return 0;
    if (!streaming(sb)) return 0;
    if (!sb->buffer) return g_sound_device_open ? -310 : 0;
    u32 p = 0, w = 0;
    if (audio()->get_position(sb->buffer, &p, &w) != kAudioOk) return -320;
    i64 delta = static_cast<i64>(p) - sb->last_cursor;
    if (sb->last_cursor > p) delta += sb->buffer_bytes;
    sb->last_cursor = p;
    const i64 pos = sb->position + delta;
    const i64 t = pos * 1000 / sb->bytes_per_sec;
    const bool pending = sb->pending_end_ms != 0;
    const i32 end = pending ? sb->pending_end_ms : sb->end_ms;
    const i32 loop = pending ? sb->pending_loop_ms : sb->loop_ms;
    if (t < end) {
      sb->position = pos;
      return 0;
    }
    sb->pending_end_ms = sb->pending_loop_ms = 0;
    if (sb->loops_done + 1 == sb->tracked_loops) {
      sb->tracked_loops = sb->loops_done = 0;
      sb->position = 0;
      sound_release_buffer(sb);
      sb->state = kSoundIdle;
      return 0;
    }
    sb->loops_done += 1;
    // What was played past the end is played past the loop point.
    const i64 end_bytes = static_cast<i64>(end) * sb->bytes_per_sec / 1000;
    i64 over = pos - end_bytes;
    if (over < 0) over = 0;
    sb->position = static_cast<i64>(loop) * sb->bytes_per_sec / 1000 + over;
    return 0;
  });
}

// ---- volume, pan, rate ----
void sound_apply_volume(ObjectNode* node, i32 v) {
  SoundBuffer* sb = sound_record(node);
  if (!sb || !sb->buffer) return;
  audio()->set_volume(sb->buffer, sound_volume_hundredths(v));
}

void sound_set_volume(ObjectNode* node, i32 v) {
  SoundBuffer* sb = sound_record(node);
  if (!sb || !g_sound_device_open) return;
  if (node->is_group) {
    sound_update_tree(node->first_child);
    return;
  }
  // A disabled leaf is silent whatever its volume.
  i64 x = sb->enabled ? v : 0;
  if (is_sound_object(node->parent)) x = x * sound_effective_volume(node->parent) >> 8;
  sound_apply_volume(node, static_cast<i32>(x));
}

void sound_update_tree(ObjectNode* first) {
  for (ObjectNode* n = first; n; n = n->next) {
    if (sound_record(n)) sound_apply_volume(n, sound_effective_volume(n));
    if (n->is_group) sound_update_tree(n->first_child);
  }
}

void sound_apply_pan(SoundBuffer* sb, i32 p) {
  if (!sb || !sb->buffer || !g_sound_device_open) return;
  audio()->set_pan(sb->buffer, sound_pan_hundredths(p));
}

void sound_apply_rate(SoundBuffer* sb, i32 r) {
  if (!sb || !sb->buffer) return;
  u32 f = sound_rate_frequency(sb->format.samples_per_sec, r);
  if (f < kAudioFrequencyMin) f = kAudioFrequencyMin;
  if (f > kAudioFrequencyMax) f = kAudioFrequencyMax;
  audio()->set_frequency(sb->buffer, f);
}

// ---- suspend and resume ----
int sound_mute_tree(ObjectNode* first, int value) {
  for (ObjectNode* n = first; n; n = n->next) {
    int r = sound_mute_node(n, value);
    if (r < 0) return r;
    if (n->is_group) {
      r = sound_mute_tree(n->first_child, value);
      if (r < 0) return r;
    }
  }
  return 0;
}

int sound_mute_node(ObjectNode* node, int value) {
  if (!sound_record(node)) return 0;
  if (value == 1) return sound_suspend(node);
  if (value == 0 && sound_effectively_enabled(node) && !sound_effectively_paused(node)) return sound_resume(node);
  return 0;
}

int sound_suspend(ObjectNode* node) {
  SoundBuffer* sb = sound_record(node);
  if (!sb || sb->state < kSoundFadingIn || sb->suspend_time != 0) return 0;
  if (g_quit_requested) {
    sound_near_silent(node);
    sb->state = kSoundIdle;
    return 0;
  }
  if (!sb->buffer) {
    if (g_sound_device_open) return -410;
  } else {
    u32 p = 0, w = 0;
    if (audio()->get_position(sb->buffer, &p, &w) != kAudioOk) return -420;
    i64 delta = static_cast<i64>(p) - sb->last_cursor;
    if (sb->last_cursor > p) delta += sb->buffer_bytes;
    sb->position += delta;
    sb->last_cursor = p;
  }
  sound_release_device_buffer(sb);
  const u32 now = now_ms();
  sb->suspend_time = now != 0 ? now : 1;
  return 0;
}

int sound_resume(ObjectNode* node) {
  SoundBuffer* sb = sound_record(node);
  if (!sb || sb->state < kSoundFadingIn || sb->suspend_time == 0) return 0;
  sb->last_half = 1;
  sb->start_ms = ms_of(sb, sb->position);
  sb->position = sb->last_cursor = 0;
  sb->carried = 0;
  sb->silence_left = 0;
  const i32 end = sb->end_ms;
  int r = sound_open_stream(sb);
  if (r < 0) return r;
  sb->end_ms = end;
  if (g_sound_device_open && !sb->buffer) return -430;
  r = start_from(node, sb, -440, sb->target);
  if (r < 0) return r;
  sb->suspend_time = 0;
  return 0;
}

// ---- release ----
int stop_sound_buffer(SoundBuffer* sb) {
  if (!g_sound_device_open || !sb->buffer) return 0;
  audio()->stop(sb->buffer);
  return 1;
}

void sound_close_decoder(SoundBuffer* sb) {
  if (!sb->ogg_decoder) return;
  auto* vf = static_cast<OggVorbis_File*>(sb->ogg_decoder);
  ov_clear(vf);
  std::free(vf);
  sb->ogg_decoder = nullptr;
}

void sound_release_device_buffer(SoundBuffer* sb) {
  sound_close_decoder(sb);
  stop_sound_buffer(sb);
  if (sb->buffer) {
    audio()->release_buffer(sb->buffer);
    sb->buffer = nullptr;
  }
  std::free(sb->half_buffer);
  sb->half_buffer = nullptr;
  std::free(sb->carry);
  sb->carry = nullptr;
}

void sound_release_buffer(SoundBuffer* sb) {
  sound_release_device_buffer(sb);
  sound_close_decoder(sb);
  std::free(sb->data);
  sb->data = nullptr;
  sb->data_size = 0;
  sb->pcm = nullptr;
  sb->pcm_size = 0;
  sb->start_ms = sb->loop_ms = 0;
}

// ---- the opcodes ----
int sound_load_request(u32 e) {
  ObjectNode* node = entry_node(e);
  SoundBuffer* sb = sound_record(node);
  if (!sb) return 1;
  if (sb->state == kSoundIdle) {
    const char* text = g_sound_queue.text[e];
    std::size_t n = std::strlen(text);
    if (n > kSoundTextSize - 1) n = kSoundTextSize - 1;
    std::memcpy(sb->name, text, n);
    sb->name[n] = 0;
    sb->decoder_loops = 0;
    sb->last_half = 1;
    sb->pan = sb->rate = 256;
    sb->start_ms = sb->loop_ms = sb->end_ms = 0;
    sb->position = 0;
    sb->pending_loop_ms = sb->pending_end_ms = 0;
    int r = sound_load(sb, node->order_key);
    if (r < 0) return r;
    sb->state = kSoundLoaded;
    return 1;
  }
  silence_node(node);
  sound_release_buffer(sb);
  sb->state = kSoundIdle;
  sb->suspend_time = 0;
  return 0;
}

int sound_play_request(u32 e) {
  ObjectNode* node = entry_node(e);
  SoundBuffer* sb = sound_record(node);
  if (!sb) return 1;
  sb->fade_ms = entry_value(e);
  const u32 now = now_ms();
  switch (sb->state) {
    case kSoundIdle:
    case kSoundLoaded: {
      int play_failure = -120;
      if (sb->state == kSoundIdle) {
        if (sb->name[0] == 0) return 1;
        sb->last_half = 1;
        sb->start_ms = 0;
        sb->position = 0;
        int r = sound_load(sb, node->order_key);
        if (r < 0) return r;
        play_failure = -110;
      }
      sb->last_cursor = 0;
      sb->carried = 0;
      sb->fade_start_time = now;
      sb->fade_reached = 0;
      sb->silence_left = 0;
      sb->suspend_time = 0;
      int r = start_from(node, sb, play_failure, -1);
      if (r < 0) return r;
      sb->fade_start = 0;
      set_fade_rate(sb, sb->target);
      sb->state = kSoundFadingIn;
      return 1;
    }
    case kSoundFadingIn:
    case kSoundPlaying:
      // The fade starts again from where the volume stands, towards the target.
      sb->fade_start_time = now;
      sb->fade_reached = 0;
      sb->fade_start = sb->volume;
      set_fade_rate(sb, static_cast<i64>(sb->target) - sb->volume);
      sb->state = kSoundFadingIn;
      return 1;
    default: {
      const i32 t = sb->fade_start;
      sb->fade_start = sb->target;
      sb->target = t;
      silence_node(node);
      sound_release_buffer(sb);
      sb->state = kSoundIdle;
      sb->suspend_time = 0;
      return 0;
    }
  }
}

int sound_pause_request(u32 e) {
  ObjectNode* node = entry_node(e);
  SoundBuffer* sb = sound_record(node);
  if (!sb) return 1;
  const i32 value = entry_value(e);
  sb->paused = static_cast<u8>(value);
  int r = sound_mute_node(node, static_cast<u8>(value));
  if (r < 0) return r;
  if (node->is_group) {
    r = sound_mute_tree(node->first_child, static_cast<u8>(value));
    if (r < 0) return r;
  }
  return 1;
}

int sound_fade_out_request(u32 e) {
  SoundBuffer* sb = sound_record(entry_node(e));
  if (!sb || sb->state < kSoundFadingIn) return 1;
  sb->fade_ms = entry_value(e);
  sb->fade_start_time = now_ms();
  sb->fade_reached = 0;
  sb->fade_start = sb->volume;
  sb->target = 0;
  const i64 v = sb->state == kSoundFadingIn ? sb->previous_target : sb->volume;
  set_fade_rate(sb, -v);
  sb->state = kSoundFadingOut;
  return 1;
}

int sound_volume_request(u32 e) {
  ObjectNode* node = entry_node(e);
  SoundBuffer* sb = sound_record(node);
  if (!sb) return 1;
  sb->volume = sb->target = sb->previous_target = entry_value(e);
  sound_set_volume(node, sb->volume);
  return 1;
}

int sound_target_volume_request(u32 e) {
  SoundBuffer* sb = sound_record(entry_node(e));
  if (!sb) return 1;
  sb->previous_target = sb->target;
  sb->target = entry_value(e);
  return 1;
}

int sound_loop_count_request(u32 e) {
  SoundBuffer* sb = sound_record(entry_node(e));
  if (sb && sb->state != kSoundIdle) sb->decoder_loops = entry_value(e);
  return 1;
}

int sound_end_pos_request(u32 e) {
  SoundBuffer* sb = sound_record(entry_node(e));
  const i32 v = entry_value(e);
  // An end at or before 0 would leave no pass to play: it is not taken.
  if (sb && sb->state != kSoundIdle && v > 0) sb->end_ms = v > sb->length_ms ? static_cast<i32>(sb->length_ms) : v;
  return 1;
}

int sound_start_pos_request(u32 e) {
  SoundBuffer* sb = sound_record(entry_node(e));
  const i32 v = entry_value(e);
  if (sb && sb->state != kSoundIdle) sb->start_ms = v < sb->length_ms ? v : 0;
  return 1;
}

int sound_loop_pos_request(u32 e) {
  SoundBuffer* sb = sound_record(entry_node(e));
  const i32 v = entry_value(e);
  if (sb && sb->state != kSoundIdle) sb->loop_ms = v < sb->length_ms ? v : 0;
  return 1;
}

int sound_pan_request(u32 e) {
  SoundBuffer* sb = sound_record(entry_node(e));
  if (sb && sb->state != kSoundIdle) {
    sb->pan = entry_value(e);
    sound_apply_pan(sb, sb->pan);
  }
  return 1;
}

int sound_frequency_request(u32 e) {
  SoundBuffer* sb = sound_record(entry_node(e));
  if (sb && sb->state != kSoundIdle) {
    sb->rate = entry_value(e);
    sound_apply_rate(sb, sb->rate);
  }
  return 1;
}

int sound_exists_request(u32) { return 1; }

int sound_stop_request(u32 e) {
  ObjectNode* node = entry_node(e);
  SoundBuffer* sb = sound_record(node);
  if (!sb || sb->state == kSoundIdle) return 1;
  sb->name[0] = 0;
  silence_node(node);
  sound_release_buffer(sb);
  sb->state = kSoundIdle;
  sb->suspend_time = 0;
  return 1;
}
