// Layer image records as payloads of layer-tree nodes.
#include <cstring>

#include "engine/frame/engine_steps.h"
#include "engine/image/layer_image.h"
#include "engine/vm/object_tree.h"

namespace {
void release_layer_payload(void* payload) { release_layer_image(static_cast<LayerImage*>(payload)); }
}  // namespace

int create_layer_image(ObjectNode* node) {
  if (!node) return 1;
  LayerImage* image = new_layer_image();
  if (!image) return 1;
  node->payload = image;
  node->payload_kind = kPayloadLayerImage;
  image->ref_count++;
  return 0;
}

LayerImage* get_or_create_layer_image(ObjectNode* node) {
  if (!node) return nullptr;
  if (node->payload && node->payload_kind == kPayloadLayerImage) return static_cast<LayerImage*>(node->payload);
  if (create_layer_image(node) != 0) return nullptr;
  return static_cast<LayerImage*>(node->payload);
}

int share_layer_image(ObjectNode* node, LayerImage* image) {
  if (!node || !image) return 0;
  node->payload = image;
  node->payload_kind = kPayloadLayerImage;
  image->ref_count++;
  return 0;
}

LayerImage* attach_layer_image(ObjectNode* node, LayerImage* image) {
  if (!node) return nullptr;
  share_layer_image(node, image);
  return image;
}

// The screen layer "W0": a record of the logical screen size with a cleared
// buffer. The layer tree's payloads are released through this part from now on.
int attach_screen_layer(ObjectNode* w0) {
  g_payload_release[kPayloadLayerImage] = release_layer_payload;
  if (!w0) return -1;
  LayerImage* image = get_or_create_layer_image(w0);
  if (!image) return -1;
  i32 w = 0, h = 0;
  get_logical_screen_size(&w, &h);
  u32* buf = alloc_image_buffer(image->owned_pixels, w, h, nullptr);
  if (!buf) return -1;
  install_image_buffer(image, buf, w, h);
  image->loaded_width = w;
  image->loaded_height = h;
  std::memset(buf, 0, static_cast<std::size_t>(image_buffer_bytes(w, h)));
  return 0;
}
