#include "engine/frame/media_locator.h"

#include "engine/frame/archive.h"
#include "engine/frame/data_access.h"
#include "engine/frame/sjis_text.h"

namespace {

struct SuffixType {
  const char* suffix;
  MediaType type;
};
// Tested in this order.
constexpr SuffixType kSuffixTypes[] = {
    {".bmp", kMediaBmp}, {".png", kMediaPng},   {".jpg", kMediaJpeg}, {".gif", kMediaGif},
    {".psd", kMediaPsd}, {".zcg", kMediaZcg},   {".psb", kMediaPsb},  {".webp", kMediaWebp},
    {".wav", kMediaWave}, {".ogg", kMediaOgg},
};

// Names with these endings are looked up as given. ".zcg" and ".psd" are
// image types too: without them a loose ZCG file could never be found (its
// type comes from its extension) and a PSD file would be tried as
// "x.psd.png" instead of reaching the PSD probe.
constexpr const char* kImageSuffixes[] = {".bmp", ".png", ".jpg", ".gif", ".psb", ".webp", ".zcg", ".psd"};
constexpr const char* kSoundSuffixes[] = {".wav", ".ogg"};

// Priority codes of the configuration.
const char* image_extension_of_code(u8 code) {
  switch (code) {
    case 1: return ".png";
    case 2: return ".bmp";
    case 3: return ".jpg";
    case 4: return ".gif";
    case 5: return ".psb";
    case 6: return ".webp";
    default: return nullptr;
  }
}
const char* sound_extension_of_code(u8 code) {
  switch (code) {
    case 1: return ".ogg";
    case 2: return ".wav";
    default: return nullptr;
  }
}

template <std::size_t N>
bool ends_with_any(const std::string& name, const char* const (&suffixes)[N]) {
  for (const char* suffix : suffixes) {
    if (ends_with_nocase(name.c_str(), suffix)) return true;
  }
  return false;
}

int finish_lookup(int found, std::string* out_name) {
  if (found < 0) {
    out_name->clear();
    return -1;
  }
  if (found == 0) return 1;
  return 0;
}

}  // namespace

MediaType media_type_from_extension(const char* name) {
  for (const SuffixType& entry : kSuffixTypes) {
    if (ends_with_nocase(name, entry.suffix)) return entry.type;
  }
  return kMediaNone;
}

int locate_data_item(DataItem* item, const char* name, int want_type) {
  item->source_kind = kSourceNone;
  item->entry_type = 0;
  DataSource order[4];
  data_source_order(order);
  for (DataSource source : order) {
    int found = 0;
    switch (source) {
      case kDataSourceMemory:
        found = locate_in_memory_groups(item, name);
        break;
      case kDataSourceCompiler:
        // The compiler hands over names and bytes only: the type comes from
        // the name, as for a loose file.
        found = locate_in_name_list(item, name);
        if (found && want_type) item->entry_type = media_type_from_extension(name);
        break;
      case kDataSourceArchives:
        found = locate_in_hashed_index(item, name);
        break;
      case kDataSourceLoose:
        if (file_exists_on_disk(name)) {
          item->source_kind = kSourceLooseFile;
          if (want_type) item->entry_type = media_type_from_extension(name);
          found = 1;
        }
        break;
    }
    if (found != 0) return found;
  }
  return 0;
}

int resolve_media_file(DataItem* item, std::string* out_name, const char* name, int media_class) {
  std::string base = name ? name : "";
  lowercase_sjis_path(base.data());
  replace_char_sjis(base.data(), '/', '\\');
  out_name->clear();
  const bool as_given = (media_class == kMediaClassImage && ends_with_any(base, kImageSuffixes)) ||
                        (media_class == kMediaClassSound && ends_with_any(base, kSoundSuffixes)) ||
                        (media_class != kMediaClassImage && media_class != kMediaClassSound);
  if (as_given) {
    *out_name = base;
    const int result = finish_lookup(locate_data_item(item, out_name->c_str(), 1), out_name);
    if (result == 1) out_name->clear();
    return result;
  }
  const bool image = media_class == kMediaClassImage;
  const int slots = image ? 7 : 2;
  for (int s = 0; s < slots; ++s) {
    const u8 code = image ? g_data_access_config.image_priority[s] : g_data_access_config.sound_priority[s];
    const char* extension = image ? image_extension_of_code(code) : sound_extension_of_code(code);
    if (!extension) continue;
    *out_name = base + extension;
    // The entry type is wanted here too: a loose hit without it would carry
    // type 0 and be refused by the image and sound loaders.
    const int result = finish_lookup(locate_data_item(item, out_name->c_str(), 1), out_name);
    if (result != 1) return result;
  }
  out_name->clear();
  return 1;
}

int find_and_load_data_item(DataItem* item, const char* name) {
  item->data = nullptr;
  item->size = 0;
  const int found = locate_data_item(item, name, 1);
  if (found < 0) return -1;
  if (found == 0) return 1;
  return load_data_item(item, name);
}
