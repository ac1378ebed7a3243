#include "demo/demo_movies.h"

#include <ogg/ogg.h>
#include <theora/theoraenc.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <vector>

namespace demo {
namespace {

struct Page {
  std::string bytes;
  double time = 0;  // when the page's last packet ends, in seconds
};

Page page_of(const ogg_page& og, double time) {
  Page p;
  p.bytes.assign(reinterpret_cast<const char*>(og.header), static_cast<size_t>(og.header_len));
  p.bytes.append(reinterpret_cast<const char*>(og.body), static_cast<size_t>(og.body_len));
  p.time = time;
  return p;
}

// A picture in R, G, B, turned into video-range BT.601 Y'CbCr 4:2:0.
using Painter = std::function<void(int frame, int x, int y, int* r, int* g, int* b)>;

struct Planes {
  int w, h;
  std::vector<unsigned char> y, cb, cr;
};

void paint(const Painter& draw, int frame, Planes* p) {
  const int cw = p->w / 2;
  std::vector<int> sum_b(static_cast<size_t>(cw) * (p->h / 2)), sum_r(sum_b.size()), sum_y(sum_b.size());
  for (int y = 0; y < p->h; ++y) {
    for (int x = 0; x < p->w; ++x) {
      int r, g, b;
      draw(frame, x, y, &r, &g, &b);
      const double yy = 16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255;
      p->y[static_cast<size_t>(y) * p->w + x] = static_cast<unsigned char>(std::lround(yy));
      const size_t c = static_cast<size_t>(y / 2) * cw + x / 2;
      sum_b[c] += b;
      sum_r[c] += r;
      sum_y[c] += static_cast<int>(std::lround(yy));
    }
  }
  for (size_t c = 0; c < sum_b.size(); ++c) {
    // Cb, Cr from the mean of the four pixels' B' - Y' and R' - Y'.
    const double yy = (sum_y[c] / 4.0 - 16) * 255 / 219;
    const double cb = 128 + (sum_b[c] / 4.0 - yy) * 112 / 255 / 0.886;
    const double cr = 128 + (sum_r[c] / 4.0 - yy) * 112 / 255 / 0.701;
    p->cb[c] = static_cast<unsigned char>(std::clamp(std::lround(cb), 16L, 240L));
    p->cr[c] = static_cast<unsigned char>(std::clamp(std::lround(cr), 16L, 240L));
  }
}

// The Theora pages of frames pictures of w x h (both even) at 30 a second.
bool theora_pages(int w, int h, int frames, const Painter& draw, Page* first, std::vector<Page>* headers,
                  std::vector<Page>* data) {
  th_info ti;
  th_info_init(&ti);
  ti.frame_width = static_cast<ogg_uint32_t>((w + 15) & ~15);
  ti.frame_height = static_cast<ogg_uint32_t>((h + 15) & ~15);
  ti.pic_width = static_cast<ogg_uint32_t>(w);
  ti.pic_height = static_cast<ogg_uint32_t>(h);
  ti.fps_numerator = 30;
  ti.fps_denominator = 1;
  ti.aspect_numerator = 1;
  ti.aspect_denominator = 1;
  ti.colorspace = TH_CS_UNSPECIFIED;
  ti.pixel_fmt = TH_PF_420;
  ti.quality = 48;
  ti.keyframe_granule_shift = 6;
  th_enc_ctx* enc = th_encode_alloc(&ti);
  th_info_clear(&ti);
  if (!enc) return false;
  ogg_stream_state os;
  ogg_stream_init(&os, 0x4b4c0001);
  th_comment tc;
  th_comment_init(&tc);
  ogg_packet op;
  ogg_page og;
  bool ok = true;
  for (int n = 0; th_encode_flushheader(enc, &tc, &op) > 0; ++n) {
    ogg_stream_packetin(&os, &op);
    // The first header alone on the stream's first page.
    if (n == 0 && ogg_stream_flush(&os, &og) > 0) *first = page_of(og, 0);
  }
  while (ogg_stream_flush(&os, &og) > 0) headers->push_back(page_of(og, 0));
  Planes p{w, h, std::vector<unsigned char>(static_cast<size_t>(w) * h),
           std::vector<unsigned char>(static_cast<size_t>(w / 2) * (h / 2)),
           std::vector<unsigned char>(static_cast<size_t>(w / 2) * (h / 2))};
  // The encoder's frame is the picture padded to whole blocks.
  const int fw = (w + 15) & ~15, fh = (h + 15) & ~15;
  std::vector<unsigned char> fy(static_cast<size_t>(fw) * fh, 16), fcb(static_cast<size_t>(fw / 2) * (fh / 2), 128),
      fcr(fcb.size(), 128);
  for (int f = 0; f < frames && ok; ++f) {
    paint(draw, f, &p);
    for (int y = 0; y < h; ++y) std::copy_n(&p.y[static_cast<size_t>(y) * w], w, &fy[static_cast<size_t>(y) * fw]);
    for (int y = 0; y < h / 2; ++y) {
      std::copy_n(&p.cb[static_cast<size_t>(y) * (w / 2)], w / 2, &fcb[static_cast<size_t>(y) * (fw / 2)]);
      std::copy_n(&p.cr[static_cast<size_t>(y) * (w / 2)], w / 2, &fcr[static_cast<size_t>(y) * (fw / 2)]);
    }
    th_ycbcr_buffer buf;
    buf[0] = {fw, fh, fw, fy.data()};
    buf[1] = {fw / 2, fh / 2, fw / 2, fcb.data()};
    buf[2] = {fw / 2, fh / 2, fw / 2, fcr.data()};
    ok = th_encode_ycbcr_in(enc, buf) == 0;
    while (ok && th_encode_packetout(enc, f == frames - 1, &op) > 0) {
      ogg_stream_packetin(&os, &op);
      while (ogg_stream_pageout(&os, &og) > 0)
        data->push_back(page_of(og, th_granule_time(enc, ogg_page_granulepos(&og))));
    }
  }
  while (ogg_stream_flush(&os, &og) > 0) data->push_back(page_of(og, th_granule_time(enc, ogg_page_granulepos(&og))));
  th_comment_clear(&tc);
  ogg_stream_clear(&os);
  th_encode_free(enc);
  return ok && !first->bytes.empty();
}

// The Vorbis pages of seconds of a soft two-note chord that fades in and out.
bool vorbis_pages(double seconds, Page* first, std::vector<Page>* headers, std::vector<Page>* data) {
  constexpr int kRate = 44100;
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, 2, kRate, 0.2f) != 0) {
    vorbis_info_clear(&vi);
    return false;
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, 0x4b4c0002);
  ogg_packet h0, h1, h2, op;
  ogg_page og;
  vorbis_analysis_headerout(&vd, &vc, &h0, &h1, &h2);
  ogg_stream_packetin(&os, &h0);
  if (ogg_stream_flush(&os, &og) > 0) *first = page_of(og, 0);
  ogg_stream_packetin(&os, &h1);
  ogg_stream_packetin(&os, &h2);
  while (ogg_stream_flush(&os, &og) > 0) headers->push_back(page_of(og, 0));
  const long total = std::lround(seconds * kRate);
  auto drain = [&] {
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      while (vorbis_bitrate_flushpacket(&vd, &op) == 1) {
        ogg_stream_packetin(&os, &op);
        while (ogg_stream_pageout(&os, &og) > 0)
          data->push_back(page_of(og, vorbis_granule_time(&vd, ogg_page_granulepos(&og))));
      }
    }
  };
  for (long at = 0; at < total;) {
    const int n = static_cast<int>(std::min(1024L, total - at));
    float** buf = vorbis_analysis_buffer(&vd, n);
    for (int i = 0; i < n; ++i) {
      const double t = static_cast<double>(at + i) / kRate;
      const double env = std::min({1.0, t / 0.3, (seconds - t) / 0.4});
      const double s = 0.15 * env * (std::sin(2 * M_PI * 392 * t) + 0.7 * std::sin(2 * M_PI * 587.33 * t));
      buf[0][i] = static_cast<float>(s);
      buf[1][i] = static_cast<float>(s);
    }
    vorbis_analysis_wrote(&vd, n);
    at += n;
    drain();
  }
  vorbis_analysis_wrote(&vd, 0);
  drain();
  while (ogg_stream_flush(&os, &og) > 0) data->push_back(page_of(og, vorbis_granule_time(&vd, ogg_page_granulepos(&og))));
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return !first->bytes.empty();
}

// The pages of the streams in the order a player reads them: the first
// pages, the other header pages, then the data by time.
bool write_ogg(const std::string& path, const std::vector<Page>& firsts, const std::vector<Page>& headers,
               std::vector<std::vector<Page>> data) {
  std::ofstream out(path, std::ios::binary);
  for (const Page& p : firsts) out << p.bytes;
  for (const Page& p : headers) out << p.bytes;
  // A page without a finished packet (time -1) keeps the time before it.
  for (auto& stream : data) {
    double last = 0;
    for (Page& p : stream) {
      if (p.time < 0) p.time = last;
      last = p.time;
    }
  }
  std::vector<size_t> at(data.size(), 0);
  for (;;) {
    int pick = -1;
    for (size_t s = 0; s < data.size(); ++s)
      if (at[s] < data[s].size() && (pick < 0 || data[s][at[s]].time < data[pick][at[pick]].time))
        pick = static_cast<int>(s);
    if (pick < 0) break;
    out << data[pick][at[pick]++].bytes;
  }
  return static_cast<bool>(out);
}

// The intro: a sunrise of warm bands over a dark blue sky, a sun rising and
// the whole picture fading in from black and out again.
void intro_picture(int f, int x, int y, int* r, int* g, int* b) {
  const double t = f / static_cast<double>(kIntroFrames - 1);
  const double fade = std::min({1.0, f / 10.0, (kIntroFrames - 1 - f) / 10.0});
  const double sky = static_cast<double>(y) / kIntroH;
  double rr = 30 + 200 * sky * t, gg = 40 + 120 * sky * t, bb = 110 - 40 * sky;
  const double sx = kIntroW / 2.0, sy = kIntroH * (0.9 - 0.5 * t);
  const double d = std::hypot(x - sx, y - sy);
  if (d < 40) {
    rr = 255;
    gg = 220;
    bb = 120;
  } else if (d < 60) {
    const double k = (60 - d) / 20;
    rr += (255 - rr) * k;
    gg += (200 - gg) * k;
    bb += (120 - bb) * k;
  }
  if (y > kIntroH * 3 / 4) {  // the sea
    rr *= 0.4;
    gg *= 0.5;
    bb = bb * 0.6 + 40 + 20 * std::sin((x + 8 * f) / 9.0);
  }
  *r = std::clamp(static_cast<int>(rr * fade), 0, 255);
  *g = std::clamp(static_cast<int>(gg * fade), 0, 255);
  *b = std::clamp(static_cast<int>(bb * fade), 0, 255);
}

// The corner clip: a colour wheel turning once around on a dark square.
void corner_picture(int f, int x, int y, int* r, int* g, int* b) {
  const double dx = x - kCornerW / 2.0 + 0.5, dy = y - kCornerH / 2.0 + 0.5;
  const double d = std::hypot(dx, dy);
  if (d > 54) {
    *r = 24;
    *g = 24;
    *b = 36;
    return;
  }
  const double a = std::atan2(dy, dx) + 2 * M_PI * f / kCornerFrames;
  const double k = d < 12 ? 1.0 : 1.0 - (d - 12) / 84;
  *r = static_cast<int>(255 * k * (0.5 + 0.5 * std::cos(a)));
  *g = static_cast<int>(255 * k * (0.5 + 0.5 * std::cos(a - 2 * M_PI / 3)));
  *b = static_cast<int>(255 * k * (0.5 + 0.5 * std::cos(a + 2 * M_PI / 3)));
}

}  // namespace

std::string write_demo_movies(const std::string& folder) {
  {
    Page tf, vf;
    std::vector<Page> th, vh, td, vd;
    if (!theora_pages(kIntroW, kIntroH, kIntroFrames, intro_picture, &tf, &th, &td) ||
        !vorbis_pages(kIntroFrames / 30.0, &vf, &vh, &vd))
      return "the intro could not be encoded";
    std::vector<Page> headers = th;
    headers.insert(headers.end(), vh.begin(), vh.end());
    if (!write_ogg(folder + "/" + kIntroMovie, {tf, vf}, headers, {td, vd})) return kIntroMovie;
  }
  Page tf;
  std::vector<Page> th, td;
  if (!theora_pages(kCornerW, kCornerH, kCornerFrames, corner_picture, &tf, &th, &td))
    return "the corner clip could not be encoded";
  if (!write_ogg(folder + "/" + kCornerClip, {tf}, th, {td})) return kCornerClip;
  return "";
}

}  // namespace demo
