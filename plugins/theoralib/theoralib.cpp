// The stand-in for "TheoraLib.dll" on libtheora's decoder, libogg and
// libvorbis's header reader. The movie is read whole through the caller's
// callbacks at load; its Theora packets are kept and decoded forward on
// demand. Pictures are converted from Y'CbCr (BT.601, video range) to
// B, G, R, A by the row kernels of ycbcr_rows.h.
#include <ogg/ogg.h>
#include <sys/mman.h>
#include <theora/theoradec.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "plugins/theoralib/theoralib_api.h"
#include "plugins/theoralib/ycbcr_rows.h"

#define KL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kMaxSide = 8192;

struct Packet {
  std::vector<unsigned char> bytes;
  ogg_int64_t granule = -1;
};

// The logical streams of an Ogg file, their packets in order.
struct OggStreams {
  std::map<int, std::vector<Packet>> packets;
  std::vector<int> order;  // serial numbers as first seen
};

bool read_all(const void* base, TheoraReadFn read, TheoraSizeFn size, std::vector<unsigned char>* out) {
  if (!read || !size) return false;
  const int total = size();
  if (total <= 0) return false;
  out->resize(static_cast<size_t>(total));
  int at = 0;
  while (at < total) {
    const int n = read(base, out->data() + at, at, total - at);
    if (n <= 0 || n > total - at) break;
    at += n;
  }
  out->resize(static_cast<size_t>(at));
  return at > 0;
}

OggStreams demux(const std::vector<unsigned char>& data) {
  OggStreams s;
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  std::map<int, ogg_stream_state> states;
  char* buf = ogg_sync_buffer(&sync, static_cast<long>(data.size()));
  if (buf) {
    std::memcpy(buf, data.data(), data.size());
    ogg_sync_wrote(&sync, static_cast<long>(data.size()));
  }
  ogg_page page;
  while (ogg_sync_pageout(&sync, &page) == 1) {
    const int serial = ogg_page_serialno(&page);
    auto it = states.find(serial);
    if (it == states.end()) {
      it = states.emplace(serial, ogg_stream_state{}).first;
      ogg_stream_init(&it->second, serial);
      s.order.push_back(serial);
    }
    ogg_stream_pagein(&it->second, &page);
    ogg_packet p;
    while (ogg_stream_packetout(&it->second, &p) == 1)
      s.packets[serial].push_back(Packet{std::vector<unsigned char>(p.packet, p.packet + p.bytes), p.granulepos});
  }
  for (auto& [serial, st] : states) ogg_stream_clear(&st);
  ogg_sync_clear(&sync);
  return s;
}

ogg_packet as_packet(Packet& p, ogg_int64_t number, bool first) {
  ogg_packet o{};
  o.packet = p.bytes.data();
  o.bytes = static_cast<long>(p.bytes.size());
  o.b_o_s = first ? 1 : 0;
  o.granulepos = p.granule;
  o.packetno = number;
  return o;
}

// The Y'CbCr a movie's picture rows were last converted from. All of it is
// read for every frame shown, so a large one is placed on 2 MB pages where
// the system gives them: on 4 KB pages the walk through it costs a TLB miss
// every 4 KB, some 5 % of the whole time of a 720p movie whose picture
// hardly moves.
class KeptRows {
 public:
  KeptRows() = default;
  KeptRows(const KeptRows&) = delete;
  KeptRows& operator=(const KeptRows&) = delete;
  ~KeptRows() { std::free(bytes_); }
  // size bytes of zero in place of the old ones; false (and nothing kept)
  // when the memory could not be had.
  bool reset(std::size_t size) {
    std::free(bytes_);
    bytes_ = nullptr;
    size_ = 0;
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    void* p = nullptr;
    if (size >= kLargePage / 2) {
      const std::size_t whole = (size + kLargePage - 1) / kLargePage * kLargePage;
      if (posix_memalign(&p, kLargePage, whole) != 0) p = nullptr;
      if (p) madvise(p, whole, MADV_HUGEPAGE);  // advice only: 4 KB pages if refused
    } else {
      p = std::malloc(size ? size : 1);
    }
    if (!p) return false;
    std::memset(p, 0, size);
    bytes_ = static_cast<unsigned char*>(p);
    size_ = size;
    return true;
  }
  unsigned char* data() const { return bytes_; }
  std::size_t size() const { return size_; }

 private:
  unsigned char* bytes_ = nullptr;
  std::size_t size_ = 0;
};

struct Movie {
  th_info info{};
  th_comment comment{};
  th_setup_info* setup = nullptr;
  th_dec_ctx* dec = nullptr;
  std::vector<Packet> packets;  // the data packets after the headers
  std::vector<std::string> comments;
  const void* base = nullptr;
  unsigned char* frame_buffer = nullptr;
  TheoraRowFn row = nullptr;
  int top_first = 0;
  int width = 0, height = 0;
  int next_packet = 0;   // the packet the decoder takes next
  int now_frame = -1;    // the frame last written
  int decoded_frame = -1;  // the frame the decoder holds
  bool loaded = false;
  // The Y'CbCr each picture row was last converted from (its luma, then the
  // chroma it used) and the row it was written to: a row whose picture and
  // place are unchanged is not converted again. A still background, the
  // common case in a game's movie, costs a comparison instead of a
  // conversion.
  KeptRows last_rows;
  std::vector<std::uint32_t*> last_out;
  int last_width = 0, last_chroma = 0;
  // While the packet of the frame to show decodes, each finished stripe of
  // rows is written at once, while it is still in the cache; the picture is
  // read whole afterwards only when the stripes did not cover it (a dropped
  // frame has none).
  bool striping = false;
  int stripe_rows = 0;
};

struct Sound {
  long rate = 0;
  int channels = 0;
  ogg_int64_t total = 0;
  const void* base = nullptr;
  std::vector<std::string> comments;
  bool loaded = false;
};

// Movies by their data, so the sound of the same data knows the time of the
// picture last decoded.
std::mutex g_mutex;
std::map<const void*, Movie*> g_movies_by_data;

void drop_decoder(Movie* m) {
  if (m->dec) th_decode_free(m->dec);
  m->dec = nullptr;
  m->next_packet = 0;
  m->decoded_frame = -1;
}

void stripe_decoded(void* ctx, th_ycbcr_buffer yuv, int yfrag0, int yfrag_end);

bool start_decoder(Movie* m) {
  drop_decoder(m);
  m->dec = th_decode_alloc(&m->info, m->setup);
  if (!m->dec) return false;
  th_stripe_callback cb{m, stripe_decoded};
  th_decode_ctl(m->dec, TH_DECCTL_SET_STRIPE_CB, &cb, sizeof cb);
  return true;
}

void release_movie(Movie* m) {
  drop_decoder(m);
  if (m->setup) th_setup_free(m->setup);
  m->setup = nullptr;
  th_info_clear(&m->info);
  th_comment_clear(&m->comment);
  {
    std::lock_guard<std::mutex> g(g_mutex);
    auto it = g_movies_by_data.find(m->base);
    if (it != g_movies_by_data.end() && it->second == m) g_movies_by_data.erase(it);
  }
  m->packets.clear();
  m->comments.clear();
  m->loaded = false;
}

// Where n bytes at a and b differ: [*first, *end) from the first differing
// byte to one past the last; false when they are equal.
bool differing_bytes(const unsigned char* a, const unsigned char* b, int n, int* first, int* end) {
  if (std::memcmp(a, b, static_cast<std::size_t>(n)) == 0) return false;
  auto word = [](const unsigned char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
  };
  int i = 0;
  while (i + 8 <= n && word(a + i) == word(b + i)) i += 8;
  while (a[i] == b[i]) ++i;  // a difference lies at i or after
  int j = n;
  while (j - 8 > i && word(a + j - 8) == word(b + j - 8)) j -= 8;
  while (a[j - 1] == b[j - 1]) --j;  // stops at i + 1 at the latest
  *first = i;
  *end = j;
  return true;
}

// Each picture row is converted by the fastest row kernel of the processor
// (ycbcr_rows.h); 4:2:0 rows that share a chroma row go in pairs. Rows whose
// Y'CbCr and output row are those of their last conversion are left as they
// are, and of the others only the blocks of 16 pixels from the first to the
// last that changed are converted (the output rows belong to the movie: its
// host reads them and does not write them).
void write_rows(Movie* m, th_ycbcr_buffer yuv, int y_begin, int y_end) {
  static const YcbcrRowFn convert = ycbcr_row_best();
  static const YcbcrRowPairFn convert_pair = ycbcr_row_pair_best();
  const int xdec = m->info.pixel_fmt == TH_PF_444 ? 0 : 1;
  const int ydec = m->info.pixel_fmt == TH_PF_420 ? 1 : 0;
  const int px = static_cast<int>(m->info.pic_x), py = static_cast<int>(m->info.pic_y);
  const int odd = xdec ? px & 1 : 0;
  const std::ptrdiff_t cx = px >> xdec;
  const int width = m->width;
  const int chroma = xdec ? (width + odd + 1) >> 1 : width;  // chroma samples a row uses
  const std::size_t slot = static_cast<std::size_t>(width) + 2u * static_cast<std::size_t>(chroma);
  if (m->last_width != width || m->last_chroma != chroma ||
      m->last_out.size() != static_cast<std::size_t>(m->height)) {
    m->last_width = width;
    m->last_chroma = chroma;
    m->last_out.assign(static_cast<std::size_t>(m->height), nullptr);
    // Without the memory to keep them, every row is converted every time.
    m->last_rows.reset(slot * static_cast<std::size_t>(m->height));
  }
  unsigned char* const kept_rows = m->last_rows.data();
  auto out_row = [&](int y) {
    return static_cast<std::uint32_t*>(m->row(m, m->top_first ? y : m->height - 1 - y));
  };
  auto luma = [&](int y) { return yuv[0].data + static_cast<std::ptrdiff_t>(py + y) * yuv[0].stride + px; };
  // The columns [*x0, *x1) of row y whose bytes differ from those it was
  // last converted from into out (the chroma compared when u is given),
  // widened to whole blocks of 16 pixels; the whole row when nothing is
  // kept of it or out is another row. False when nothing differs.
  auto changed = [&](int y, std::uint32_t* out, const unsigned char* l, const unsigned char* u,
                     const unsigned char* v, int* x0, int* x1) {
    if (!kept_rows || m->last_out[static_cast<std::size_t>(y)] != out) {
      *x0 = 0;
      *x1 = width;
      return true;
    }
    const unsigned char* kept = kept_rows + slot * static_cast<std::size_t>(y);
    int lo = width, hi = 0, a = 0, b = 0;
    if (differing_bytes(kept, l, width, &a, &b)) lo = a, hi = b;
    if (u)
      for (const auto& [k, c] : {std::pair{kept + width, u}, std::pair{kept + width + chroma, v}})
        if (differing_bytes(k, c, chroma, &a, &b)) {
          // Chroma sample i serves pixels [(i << xdec) - odd, ((i + 1) << xdec) - odd).
          lo = std::min(lo, (a << xdec) - odd);
          hi = std::max(hi, (b << xdec) - odd);
        }
    lo = std::max(lo, 0) & ~15;
    hi = std::min((hi + 15) & ~15, width);
    if (lo >= hi) return false;
    *x0 = lo;
    *x1 = hi;
    return true;
  };
  // Columns [x0, x1) of row y converted from l, u and v are kept for the
  // next picture (the rest of the row was equal already).
  auto keep = [&](int y, std::uint32_t* out, const unsigned char* l, const unsigned char* u, const unsigned char* v,
                  int x0, int x1) {
    if (!kept_rows) return;
    unsigned char* kept = kept_rows + slot * static_cast<std::size_t>(y);
    m->last_out[static_cast<std::size_t>(y)] = out;
    const int c0 = (x0 + odd) >> xdec, c1 = ((x1 - 1 + odd) >> xdec) + 1;
    std::memcpy(kept + x0, l + x0, static_cast<std::size_t>(x1 - x0));
    std::memcpy(kept + width + c0, u + c0, static_cast<std::size_t>(c1 - c0));
    std::memcpy(kept + width + chroma + c0, v + c0, static_cast<std::size_t>(c1 - c0));
  };
  // Pixel x0 of a row on takes chroma sample c0 + ((x - x0 + o) >> xdec).
  auto from = [&](int x0, int* c0, int* o) {
    *c0 = (x0 + odd) >> xdec;
    *o = xdec ? (x0 + odd) & 1 : 0;
  };
  // A range starts on the first row of a chroma pair (stripes hold whole
  // pairs); a lone row before it is converted alone.
  for (int y = std::max(y_begin, 0); y < std::min(y_end, m->height);) {
    const int cy = (py + y) >> ydec;
    const unsigned char* u = yuv[1].data + static_cast<std::ptrdiff_t>(cy) * yuv[1].stride + cx;
    const unsigned char* v = yuv[2].data + static_cast<std::ptrdiff_t>(cy) * yuv[2].stride + cx;
    std::uint32_t* out = out_row(y);
    int x0 = 0, x1 = 0, c0 = 0, o = 0;
    if (ydec && ((py + y) & 1) == 0 && y + 1 < std::min(y_end, m->height)) {
      std::uint32_t* next = out_row(y + 1);
      const unsigned char *l0 = luma(y), *l1 = luma(y + 1);
      int n0 = 0, n1 = 0;
      const bool first_changed = changed(y, out, l0, u, v, &x0, &x1);
      if (changed(y + 1, next, l1, nullptr, nullptr, &n0, &n1)) {
        x0 = first_changed ? std::min(x0, n0) : n0;
        x1 = first_changed ? std::max(x1, n1) : n1;
      } else if (!first_changed) {
        y += 2;
        continue;
      }
      from(x0, &c0, &o);
      if (out && next) convert_pair(out + x0, next + x0, l0 + x0, l1 + x0, u + c0, v + c0, x1 - x0, xdec, o);
      else if (out) convert(out + x0, l0 + x0, u + c0, v + c0, x1 - x0, xdec, o);
      else if (next) convert(next + x0, l1 + x0, u + c0, v + c0, x1 - x0, xdec, o);
      keep(y, out, l0, u, v, x0, x1);
      keep(y + 1, next, l1, u, v, x0, x1);
      y += 2;
      continue;
    }
    const unsigned char* l = luma(y);
    if (changed(y, out, l, u, v, &x0, &x1)) {
      from(x0, &c0, &o);
      if (out) convert(out + x0, l + x0, u + c0, v + c0, x1 - x0, xdec, o);
      keep(y, out, l, u, v, x0, x1);
    }
    ++y;
  }
}

void write_picture(Movie* m, th_ycbcr_buffer yuv) { write_rows(m, yuv, 0, m->height); }

// A finished stripe of the frame being decoded: fragment rows [yfrag0,
// yfrag_end) of the frame, 8 pixel rows each, counted from the top.
void stripe_decoded(void* ctx, th_ycbcr_buffer yuv, int yfrag0, int yfrag_end) {
  auto* m = static_cast<Movie*>(ctx);
  if (!m->striping) return;
  const int py = static_cast<int>(m->info.pic_y);
  const int first = yfrag0 * 8 - py, end = yfrag_end * 8 - py;
  const int from = std::max(first, 0), to = std::min(end, m->height);
  if (from >= to) return;
  write_rows(m, yuv, from, to);
  m->stripe_rows += to - from;
}

}  // namespace

KL_EXPORT void* theoralib_m_create() {
  auto* m = new Movie();
  th_info_init(&m->info);
  th_comment_init(&m->comment);
  return m;
}

KL_EXPORT void theoralib_m_free(void* movie) {
  auto* m = static_cast<Movie*>(movie);
  if (!m) return;
  release_movie(m);
  delete m;
}

KL_EXPORT int theoralib_m_init(void* movie) {
  auto* m = static_cast<Movie*>(movie);
  if (!m) return -1;
  release_movie(m);
  th_info_init(&m->info);
  th_comment_init(&m->comment);
  m->now_frame = -1;
  return 0;
}

KL_EXPORT int theoralib_m_load(void* movie, const void* base, TheoraReadFn read, TheoraSizeFn size,
                               void* frame_buffer, TheoraRowFn row, TheoraResizeFn resize, int) {
  auto* m = static_cast<Movie*>(movie);
  if (!m || !row) return -1;
  theoralib_m_init(m);
  std::vector<unsigned char> data;
  if (!read_all(base, read, size, &data)) return -1;
  OggStreams streams = demux(data);
  for (int serial : streams.order) {
    std::vector<Packet>& ps = streams.packets[serial];
    th_info info;
    th_comment comment;
    th_info_init(&info);
    th_comment_init(&comment);
    th_setup_info* setup = nullptr;
    size_t i = 0;
    int r = 1;
    for (; i < ps.size(); ++i) {
      ogg_packet p = as_packet(ps[i], static_cast<ogg_int64_t>(i), i == 0);
      r = th_decode_headerin(&info, &comment, &setup, &p);
      if (r <= 0) break;
    }
    if (r == 0 && setup && info.pic_width >= 1 && info.pic_height >= 1 && info.pic_width <= kMaxSide &&
        info.pic_height <= kMaxSide && info.pic_x + info.pic_width <= info.frame_width &&
        info.pic_y + info.pic_height <= info.frame_height) {
      m->info = info;
      m->comment = comment;
      m->setup = setup;
      m->packets.assign(ps.begin() + static_cast<std::ptrdiff_t>(i), ps.end());
      for (int c = 0; c < comment.comments; ++c)
        m->comments.emplace_back(comment.user_comments[c], static_cast<size_t>(comment.comment_lengths[c]));
      break;
    }
    if (setup) th_setup_free(setup);
    th_info_clear(&info);
    th_comment_clear(&comment);
  }
  if (!m->setup) return -1;
  m->width = static_cast<int>(m->info.pic_width);
  m->height = static_cast<int>(m->info.pic_height);
  m->base = base;
  m->row = row;
  m->frame_buffer = static_cast<unsigned char*>(frame_buffer);
  if (resize && resize(m, m->width, m->height) < 0) {
    release_movie(m);
    return -1;
  }
  if (!start_decoder(m)) {
    release_movie(m);
    return -1;
  }
  m->loaded = true;
  std::lock_guard<std::mutex> g(g_mutex);
  g_movies_by_data[base] = m;
  return 0;
}

KL_EXPORT int theoralib_m_exists(void* movie) {
  auto* m = static_cast<Movie*>(movie);
  return m && m->loaded ? 1 : 0;
}

KL_EXPORT int theoralib_m_decodeframe(void* movie, int index) {
  auto* m = static_cast<Movie*>(movie);
  if (!m || !m->loaded) return -1;
  if (index < 0 || index >= static_cast<int>(m->packets.size())) return 0;
  if (index < m->decoded_frame || !m->dec) {
    if (!start_decoder(m)) return -1;
  }
  bool written = false;
  while (m->decoded_frame < index) {
    const int n = m->next_packet;
    ogg_packet p = as_packet(m->packets[static_cast<size_t>(n)], 3 + n, false);
    ogg_int64_t granule = 0;
    // Only the frame to show is written, stripe by stripe.
    m->striping = m->decoded_frame + 1 == index;
    m->stripe_rows = 0;
    th_decode_packetin(m->dec, &p, &granule);
    written = m->striping && m->stripe_rows == m->height;
    m->striping = false;
    m->next_packet++;
    m->decoded_frame++;
  }
  if (!written) {
    th_ycbcr_buffer yuv;
    if (th_decode_ycbcr_out(m->dec, yuv) != 0) return -1;
    write_picture(m, yuv);
  }
  m->now_frame = index;
  return 1;
}

KL_EXPORT void theoralib_m_setvrevers(void* movie, int top_first) {
  if (auto* m = static_cast<Movie*>(movie)) m->top_first = top_first ? 1 : 0;
}
KL_EXPORT void theoralib_m_setdecodemode(void*, int) {}
KL_EXPORT int theoralib_m_nowframe(void* movie) {
  auto* m = static_cast<Movie*>(movie);
  return m ? m->now_frame : -1;
}
KL_EXPORT int theoralib_m_totalframe(void* movie) {
  auto* m = static_cast<Movie*>(movie);
  return m && m->loaded ? static_cast<int>(m->packets.size()) : 0;
}
KL_EXPORT int theoralib_m_totaltime(void* movie) {
  auto* m = static_cast<Movie*>(movie);
  if (!m || !m->loaded || m->info.fps_numerator == 0) return 0;
  return static_cast<int>(static_cast<std::int64_t>(m->packets.size()) * 1000 * m->info.fps_denominator /
                          m->info.fps_numerator);
}
KL_EXPORT int theoralib_m_info(void* movie, int what) {
  auto* m = static_cast<Movie*>(movie);
  if (!m || !m->loaded) return -1;
  switch (what) {
    case 0: return m->width;
    case 1: return m->height;
    case 2: return static_cast<int>(m->info.fps_numerator);
    case 3: return static_cast<int>(m->info.fps_denominator);
    case 4: return static_cast<int>(m->info.pixel_fmt);
    default: return -1;
  }
}
KL_EXPORT const char* theoralib_m_comment(void* movie, int index) {
  auto* m = static_cast<Movie*>(movie);
  if (!m || index < 0 || index >= static_cast<int>(m->comments.size())) return "";
  return m->comments[static_cast<size_t>(index)].c_str();
}

KL_EXPORT void* theoralib_w_create() { return new Sound(); }
KL_EXPORT void theoralib_w_free(void* sound) { delete static_cast<Sound*>(sound); }
KL_EXPORT int theoralib_w_init(void* sound) {
  auto* s = static_cast<Sound*>(sound);
  if (!s) return -1;
  *s = Sound{};
  return 0;
}

KL_EXPORT int theoralib_w_load(void* sound, const void* base, TheoraReadFn read, TheoraSizeFn size) {
  auto* s = static_cast<Sound*>(sound);
  if (!s) return -1;
  *s = Sound{};
  std::vector<unsigned char> data;
  if (!read_all(base, read, size, &data)) return -1;
  OggStreams streams = demux(data);
  for (int serial : streams.order) {
    std::vector<Packet>& ps = streams.packets[serial];
    if (ps.size() < 3) continue;
    vorbis_info vi;
    vorbis_comment vc;
    vorbis_info_init(&vi);
    vorbis_comment_init(&vc);
    bool ok = true;
    for (size_t i = 0; i < 3 && ok; ++i) {
      ogg_packet p = as_packet(ps[i], static_cast<ogg_int64_t>(i), i == 0);
      ok = vorbis_synthesis_headerin(&vi, &vc, &p) == 0;
    }
    if (ok && vi.rate > 0) {
      s->rate = vi.rate;
      s->channels = vi.channels;
      for (size_t i = ps.size(); i-- > 3;) {
        if (ps[i].granule >= 0) {
          s->total = ps[i].granule;
          break;
        }
      }
      for (int c = 0; c < vc.comments; ++c)
        s->comments.emplace_back(vc.user_comments[c], static_cast<size_t>(vc.comment_lengths[c]));
      s->base = base;
      s->loaded = true;
    }
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    if (s->loaded) return 0;
  }
  return -1;
}

KL_EXPORT int theoralib_w_exists(void* sound) {
  auto* s = static_cast<Sound*>(sound);
  return s && s->loaded ? 1 : 0;
}
KL_EXPORT int theoralib_w_decodesample(void*, short*, int) { return 0; }
KL_EXPORT int theoralib_w_nowsample(void* sound) {
  auto* s = static_cast<Sound*>(sound);
  if (!s || !s->loaded) return 0;
  std::lock_guard<std::mutex> g(g_mutex);
  auto it = g_movies_by_data.find(s->base);
  if (it == g_movies_by_data.end()) return 0;
  const Movie* m = it->second;
  if (m->now_frame < 0 || m->info.fps_numerator == 0) return 0;
  const std::int64_t pos = static_cast<std::int64_t>(m->now_frame) * s->rate * m->info.fps_denominator /
                           m->info.fps_numerator;
  return static_cast<int>(pos > s->total ? s->total : pos);
}
KL_EXPORT int theoralib_w_totalsample(void* sound) {
  auto* s = static_cast<Sound*>(sound);
  return s && s->loaded ? static_cast<int>(s->total) : 0;
}
KL_EXPORT int theoralib_w_totaltime(void* sound) {
  auto* s = static_cast<Sound*>(sound);
  if (!s || !s->loaded || s->rate <= 0) return 0;
  return static_cast<int>(s->total * 1000 / s->rate);
}
KL_EXPORT int theoralib_w_info(void* sound, int what) {
  auto* s = static_cast<Sound*>(sound);
  if (!s || !s->loaded) return -1;
  if (what == 0) return static_cast<int>(s->rate);
  if (what == 1) return s->channels;
  return -1;
}
KL_EXPORT const char* theoralib_w_comment(void* sound, int index) {
  auto* s = static_cast<Sound*>(sound);
  if (!s || index < 0 || index >= static_cast<int>(s->comments.size())) return "";
  return s->comments[static_cast<size_t>(index)].c_str();
}
