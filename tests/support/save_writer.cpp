#include "tests/support/save_writer.h"

#include <lz4.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace {
void u32le(SdBytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void u16le(SdBytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
std::uint32_t rd32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void head(SdBytes& b, int type, const std::vector<std::uint32_t>& dims) {
  u32le(b, static_cast<std::uint32_t>(type));
  u32le(b, static_cast<std::uint32_t>(dims.size()));
  for (std::uint32_t d : dims) u32le(b, d);
}
template <class T>
SdBytes numbers(int type, const std::vector<std::uint32_t>& dims, const std::vector<T>& values) {
  SdBytes b;
  head(b, type, dims);
  u32le(b, static_cast<std::uint32_t>(8 * values.size()));
  for (T v : values) {
    std::uint8_t raw[8];
    std::memcpy(raw, &v, 8);
    b.insert(b.end(), raw, raw + 8);
  }
  return b;
}
}  // namespace

SdBytes sd_pack(const SdBytes& unpacked, int method, int zlib_level) {
  if (method == 1) {
    uLongf n = compressBound(unpacked.size());
    SdBytes out(n);
    compress2(out.data(), &n, unpacked.data(), unpacked.size(), zlib_level);
    out.resize(n);
    return out;
  }
  SdBytes out(LZ4_compressBound(static_cast<int>(unpacked.size())) + 1);
  int n = LZ4_compress_default(reinterpret_cast<const char*>(unpacked.data()), reinterpret_cast<char*>(out.data()),
                               static_cast<int>(unpacked.size()), static_cast<int>(out.size()));
  out.resize(n > 0 ? n : 0);
  return out;
}

bool sd_unpack(const SdBytes& packed, int method, std::uint32_t size, SdBytes* out) {
  out->assign(size, 0);
  static std::uint8_t spare;
  std::uint8_t* dst = size ? out->data() : &spare;
  if (method == 1) {
    uLongf n = size;
    return uncompress(dst, &n, packed.empty() ? &spare : packed.data(), packed.size()) == Z_OK && n == size;
  }
  int n = LZ4_decompress_safe(reinterpret_cast<const char*>(packed.data()), reinterpret_cast<char*>(dst),
                              static_cast<int>(packed.size()), static_cast<int>(size));
  return n >= 0 && static_cast<std::uint32_t>(n) == size;
}

bool sd_unpack_any(const SdBytes& packed, std::uint32_t size, SdBytes* out) {
  SdBytes z(size);
  static std::uint8_t spare;
  uLongf n = size;
  uLong used = packed.size();
  if (packed.size() >= 2 &&
      uncompress2(size ? z.data() : &spare, &n, packed.data(), &used) == Z_OK && n == size && used == packed.size()) {
    *out = z;
    return true;
  }
  return sd_unpack(packed, 2, size, out);
}

SdBytes sd_int_value(const std::vector<std::uint32_t>& dims, const std::vector<std::int64_t>& values) {
  return numbers(1, dims, values);
}
SdBytes sd_float_value(const std::vector<std::uint32_t>& dims, const std::vector<double>& values) {
  return numbers(2, dims, values);
}
SdBytes sd_text_value(const std::vector<std::uint32_t>& dims, const std::vector<std::string>& values) {
  SdBytes b;
  head(b, 3, dims);
  if (dims.empty()) u32le(b, static_cast<std::uint32_t>(values.at(0).size() + 4));
  for (const std::string& t : values) {
    u32le(b, static_cast<std::uint32_t>(t.size()));
    b.insert(b.end(), t.begin(), t.end());
  }
  return b;
}

SdBytes sd_layer_value(std::int32_t width, std::int32_t height, const std::vector<std::uint32_t>& pixels) {
  SdBytes b;
  u32le(b, 1680);
  u32le(b, static_cast<std::uint32_t>(pixels.size() * 4));
  SdBytes block(1680, 0);
  std::memcpy(block.data() + 136, &width, 4);
  std::memcpy(block.data() + 140, &height, 4);
  b.insert(b.end(), block.begin(), block.end());
  for (std::uint32_t p : pixels) u32le(b, p);
  return b;
}

SdBytes sd_body(int kind, int method, std::int16_t id, const SdBytes& unpacked, int flag) {
  SdBytes packed = sd_pack(unpacked, method);
  SdBytes b;
  b.push_back(static_cast<std::uint8_t>(kind));
  b.push_back(static_cast<std::uint8_t>(flag < 0 ? method : flag));
  u16le(b, static_cast<std::uint16_t>(id));
  u32le(b, static_cast<std::uint32_t>(packed.size()));
  u32le(b, static_cast<std::uint32_t>(unpacked.size()));
  b.insert(b.end(), packed.begin(), packed.end());
  return b;
}

SdBytes sd_vars_body(int method, const std::vector<std::pair<std::uint32_t, SdBytes>>& vars, int flag,
                     int first_word) {
  SdBytes run;
  std::uint32_t total = 0;
  for (const auto& [id, value] : vars) {
    SdBytes packed = sd_pack(value, method);
    u16le(run, static_cast<std::uint16_t>(first_word < 0 ? id >> 16 : static_cast<std::uint32_t>(first_word)));
    u16le(run, static_cast<std::uint16_t>(id));
    u32le(run, static_cast<std::uint32_t>(packed.size()));
    u32le(run, static_cast<std::uint32_t>(value.size()));
    run.insert(run.end(), packed.begin(), packed.end());
    total += static_cast<std::uint32_t>(value.size());
  }
  SdBytes b = {2, static_cast<std::uint8_t>(flag < 0 ? method : flag), 0, 0};
  u32le(b, static_cast<std::uint32_t>(run.size()));
  u32le(b, total);
  b.insert(b.end(), run.begin(), run.end());
  return b;
}

SdBytes sd_global_store_body(int method, const std::map<int, SdBytes>& images, int kind, int flag) {
  SdBytes run;
  for (int i = 0; i < 500; ++i) {
    auto it = images.find(i);
    if (it == images.end() || it->second.empty()) {
      u32le(run, 0);
      u32le(run, 0);
      continue;
    }
    SdBytes packed = sd_pack(it->second, method, 1);
    u32le(run, static_cast<std::uint32_t>(it->second.size()));
    u32le(run, static_cast<std::uint32_t>(packed.size()));
    run.insert(run.end(), packed.begin(), packed.end());
  }
  SdBytes b = {static_cast<std::uint8_t>(kind), static_cast<std::uint8_t>(flag < 0 ? method : flag), 0, 0};
  u32le(b, static_cast<std::uint32_t>(run.size()));
  u32le(b, static_cast<std::uint32_t>(run.size()));
  b.insert(b.end(), run.begin(), run.end());
  return b;
}

SdBytes sd_file(const std::vector<std::pair<std::uint32_t, SdBytes>>& records) {
  SdBytes b = {'Z', 'T', 'S', 'D'};
  u32le(b, 480);
  u32le(b, static_cast<std::uint32_t>(records.size()));
  u32le(b, 1024);
  b.resize(4112, 0);
  for (const auto& [dno, body] : records) {
    const std::uint32_t at = static_cast<std::uint32_t>(b.size());
    std::memcpy(b.data() + 12 + 4 * dno, &at, 4);
    u32le(b, dno);
    b.insert(b.end(), body.begin(), body.end());
  }
  return b;
}

std::string sd_parse(const SdBytes& file, SdFile* out) {
  *out = SdFile();
  if (file.size() < 4112) return "shorter than the header";
  if (std::memcmp(file.data(), "ZTSD", 4) != 0) return "no magic";
  if (rd32(&file[4]) != 480) return "version";
  if (rd32(&file[12]) != 1024) return "word at 12";
  out->count = rd32(&file[8]);
  for (int d = 1; d <= 1024; ++d) out->offsets[d] = rd32(&file[12 + 4 * d]);
  std::size_t at = 4112;
  while (at < file.size()) {
    if (file.size() - at < 16) return "record header cut at " + std::to_string(at);
    SdRecord r;
    r.dno = rd32(&file[at]);
    r.kind = file[at + 4];
    r.flag = file[at + 5];
    std::memcpy(&r.id, &file[at + 6], 2);
    r.packed = rd32(&file[at + 8]);
    r.unpacked = rd32(&file[at + 12]);
    if (r.packed > file.size() - at - 16) return "packed bytes cut at " + std::to_string(at);
    if (r.dno < 1 || r.dno > 1024) return "DNO " + std::to_string(r.dno);
    if (out->offsets[r.dno] != at) return "record of DNO " + std::to_string(r.dno) + " not at its offset";
    r.data.assign(file.begin() + static_cast<long>(at) + 16, file.begin() + static_cast<long>(at + 16 + r.packed));
    out->records.push_back(r);
    at += 16 + r.packed;
  }
  std::uint32_t set = 0;
  for (int d = 1; d <= 1024; ++d) set += out->offsets[d] != 0;
  if (set != out->records.size()) return "offsets without records";
  if (out->count != out->records.size()) return "count " + std::to_string(out->count);
  return "";
}

const SdRecord* sd_find(const SdFile& f, std::uint32_t dno) {
  for (const SdRecord& r : f.records)
    if (r.dno == dno) return &r;
  return nullptr;
}

bool sd_read_file(const std::string& path, SdBytes* out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  out->clear();
  std::uint8_t buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  std::fclose(f);
  return true;
}

bool sd_write_file(const std::string& path, const SdBytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}
