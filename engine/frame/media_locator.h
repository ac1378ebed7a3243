// The media-file locator: the lookup over the four data sources in their
// order, the extensions tried for names given without one, and the media
// type of a file name.
#pragma once
#include <string>

#include "engine/frame/data_item.h"

enum MediaType : u8 {
  kMediaNone = 0,
  kMediaBmp = 1,
  kMediaPng = 2,
  kMediaJpeg = 3,
  kMediaGif = 4,
  kMediaWave = 5,
  kMediaOgg = 6,
  kMediaPsd = 7,
  kMediaZcg = 8,
  kMediaPsb = 9,
  kMediaWebp = 10,
};

// Media classes of resolve_media_file.
constexpr int kMediaClassImage = 0;
constexpr int kMediaClassSound = 1;
constexpr int kMediaClassOther = 9;

// MediaType by case-insensitive suffix; 0 for anything else.
MediaType media_type_from_extension(const char* name);

// Clears the item's source kind and entry type and walks the source order;
// the first locator that finds the name decides. Returns the source kind
// found (4, 3, 2 or 1), 0 not found, negative when an archive does not open
// (reported). A loose-file hit takes its entry type from the extension when
// want_type is non-zero.
int locate_data_item(DataItem* item, const char* name, int want_type);

// Finds a media file. The name is lower-cased and '/' becomes '\'. A name
// that already ends in an extension of its class (images: .bmp .png .jpg
// .gif .psb .webp .zcg .psd; sounds: .wav .ogg), and every name of class 9,
// is looked up as it stands; any other name is tried with the extensions of
// the class's priority table in order. Returns 0 found (out_name holds the
// name found and item is located), 1 not found (out_name empty), -1 after a
// reported error.
int resolve_media_file(DataItem* item, std::string* out_name, const char* name, int media_class);

// Looks the name up in the source order and loads it: 0 loaded (the caller
// owns item->data), 1 not found (nothing reported; callers report 104060 as
// their rule says), -1 when an archive did not open, -2 damaged, -3 open,
// memory or read failure (all reported, except a short loose-file read).
int find_and_load_data_item(DataItem* item, const char* name);
