// The audio device: one output device and secondary buffers on it, each a
// ring of PCM bytes that the device plays in a loop, with play and write
// cursors, lock/unlock with wrap, volume in hundredths of a decibel, pan and
// frequency. The sound thread is the only caller apart from tests; the
// functions are safe from any one thread at a time (the device's own mixer
// runs beside them and is never stalled by them).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Results. 0 is success; the creation results of the device keep the
// system's numbers, so the caller's boxes can be chosen by them.
constexpr std::uint32_t kAudioOk = 0;
constexpr std::uint32_t kAudioErrAllocated = 0x8878000Au;   // device in use / not opened
constexpr std::uint32_t kAudioErrNoDriver = 0x88780078u;    // no usable driver
constexpr std::uint32_t kAudioErrOutOfMemory = 0x8007000Eu;
constexpr std::uint32_t kAudioErrInvalidArg = 0x80070057u;  // a parameter outside its range
constexpr std::uint32_t kAudioErrNoAggregation = 0x80040110u;
constexpr std::uint32_t kAudioErrGeneric = 0x80004005u;     // anything else

// Ranges a buffer accepts.
constexpr std::int32_t kAudioVolumeMin = -10000;  // silent
constexpr std::int32_t kAudioVolumeMax = 0;       // as recorded
constexpr std::int32_t kAudioPanLeft = -10000;
constexpr std::int32_t kAudioPanRight = 10000;
constexpr std::uint32_t kAudioFrequencyMin = 100;
constexpr std::uint32_t kAudioFrequencyMax = 200000;

// PCM only: 8 (unsigned) or 16 (signed, little-endian) bits, 1 or 2
// channels, block_align = channels * bits / 8.
struct AudioFormat {
  std::uint16_t channels = 0;
  std::uint32_t samples_per_sec = 0;
  std::uint16_t bits = 0;
  std::uint16_t block_align = 0;
};

// A buffer as the engine holds it; each backend's ring record derives from
// it. Owned by the device until released.
struct AudioBuffer {};

// A sound device of the machine as its driver names it.
struct AudioDeviceInfo {
  std::string name;
  int channels = 0;  // 1 mono, 2 or more stereo
};

struct PlatformAudio {
  // Opens the default output device: kAudioOk, kAudioErrNoDriver (no driver
  // could be started), kAudioErrAllocated (no device could be opened) or
  // kAudioErrOutOfMemory. Opening an open device is kAudioOk.
  std::uint32_t (*open_device)();
  // Releases every buffer left and closes the device. Safe when not open.
  void (*close_device)();
  // A ring of bytes (a whole number of blocks, at least one) in format,
  // filled with silence, stopped, cursors at 0, volume 0, pan 0, frequency
  // of the format. kAudioOk and *out, kAudioErrInvalidArg for a format or
  // size outside the ranges, kAudioErrAllocated without an open device,
  // kAudioErrOutOfMemory.
  std::uint32_t (*create_buffer)(const AudioFormat* format, std::uint32_t bytes, AudioBuffer** out);
  // Stops and frees the buffer; null does nothing.
  void (*release_buffer)(AudioBuffer* buffer);
  // Starts playing from the play cursor; looping wraps at the end, else the
  // buffer stops there. kAudioOk.
  std::uint32_t (*play)(AudioBuffer* buffer, int looping);
  // Stops; the cursors stay where they are. kAudioOk.
  std::uint32_t (*stop)(AudioBuffer* buffer);
  // Play cursor (the byte being heard) and write cursor (the first byte
  // that may still be written: the bytes between them are committed). Both
  // block-aligned, below the size. kAudioOk.
  std::uint32_t (*get_position)(AudioBuffer* buffer, std::uint32_t* play, std::uint32_t* write);
  // Moves the play cursor (stopped or playing). kAudioErrInvalidArg past the end.
  std::uint32_t (*set_position)(AudioBuffer* buffer, std::uint32_t play);
  // Gives bytes of the ring from offset as one or two parts (the second
  // from offset 0 when the region wraps; null and 0 otherwise).
  // kAudioErrInvalidArg when offset or bytes lie outside the ring.
  std::uint32_t (*lock)(AudioBuffer* buffer, std::uint32_t offset, std::uint32_t bytes, void** part1,
                        std::uint32_t* size1, void** part2, std::uint32_t* size2);
  // Ends a lock; the bytes written are played from now on. kAudioOk.
  std::uint32_t (*unlock)(AudioBuffer* buffer, void* part1, std::uint32_t size1, void* part2,
                          std::uint32_t size2);
  // Hundredths of a decibel, kAudioVolumeMin..kAudioVolumeMax, else
  // kAudioErrInvalidArg (the old value stays).
  std::uint32_t (*set_volume)(AudioBuffer* buffer, std::int32_t volume);
  // kAudioPanLeft..kAudioPanRight: the far side is attenuated by the value
  // in hundredths of a decibel. Outside: kAudioErrInvalidArg.
  std::uint32_t (*set_pan)(AudioBuffer* buffer, std::int32_t pan);
  // Samples per second the ring is played at, kAudioFrequencyMin..Max.
  std::uint32_t (*set_frequency)(AudioBuffer* buffer, std::uint32_t frequency);
  // Current values (for tests and the sound commands' queries).
  std::int32_t (*get_volume)(AudioBuffer* buffer);
  std::int32_t (*get_pan)(AudioBuffer* buffer);
  std::uint32_t (*get_frequency)(AudioBuffer* buffer);
  int (*is_playing)(AudioBuffer* buffer);
  // The machine's output (input 0) or input (1) devices with their channel
  // counts; a driver that names no output device lists its default one.
  // Empty when no audio driver starts. Open or not; not while another call
  // of this service runs.
  std::vector<AudioDeviceInfo> (*list_devices)(int input);
};

// The real device: SDL2 audio, one device at 44100 Hz, signed 16-bit
// stereo, 1024-frame periods, our own mixer in its callback.
extern const PlatformAudio kSdlAudio;
// Output rate of the real device's mixer.
constexpr std::uint32_t kSdlMixRate = 44100;
// The mixer step itself, shared with the benchmarks: adds frames output
// frames of every playing buffer in buffers (count of them) into out
// (interleaved stereo int32 sums, not cleared here), at output rate
// kSdlMixRate, and advances their read positions.
void sdl_audio_mix_buffers(AudioBuffer* const* buffers, int count, std::int32_t* out, int frames);
// A ring outside the device's table, mixed only through
// sdl_audio_mix_buffers (benchmarks): the setters and play work on it as on
// any buffer. Null for a format outside the ranges.
AudioBuffer* sdl_audio_make_ring(const AudioFormat* format, std::uint32_t bytes);
void sdl_audio_free_ring(AudioBuffer* ring);
// Clips int32 stereo sums into signed 16-bit samples.
void sdl_audio_clip(const std::int32_t* sums, std::int16_t* out, int samples);

// The fake device: cursors advance with the platform clock (the test clock
// in tests) at the buffer's frequency; the write cursor leads the play
// cursor by kFakeAudioWriteLeadMs. Every byte that passes the write cursor
// while playing is appended to the buffer's heard record.
extern const PlatformAudio kFakeAudio;
constexpr std::uint32_t kFakeAudioWriteLeadMs = 10;
// The next open_device answers result (0 = open as usual).
void fake_audio_fail_open(std::uint32_t result);
// The next create_buffer answers result (0 = as usual).
void fake_audio_fail_create(std::uint32_t result);
// Every buffer created since the last reset, in order (released ones too;
// their records stay until the reset).
int fake_audio_buffer_count();
struct FakeAudioRecord {
  AudioFormat format;
  std::uint32_t bytes = 0;
  int released = 0;
  const std::uint8_t* heard = nullptr;  // the bytes heard so far
  std::uint64_t heard_size = 0;
  std::int32_t volume = 0;
  std::int32_t pan = 0;
  std::uint32_t frequency = 0;
  int playing = 0;
  // Calls made on the buffer, by name initial: 'p'lay, 's'top, 'l'ock,
  // 'v'olume, 'n' pan, 'f'requency, 'r'elease.
  const char* calls = "";
};
// Brings every playing buffer up to the clock, then describes buffer i.
FakeAudioRecord fake_audio_record(int i);
// Forgets every record; buffers not released yet stay usable.
void fake_audio_reset();
int fake_audio_device_open();
