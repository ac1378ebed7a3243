// The CPU compositor: each frame, every window whose root layer changed has
// the changed area of its root image recomposed from the layer tree; the
// blends run as row bands on the pixel workers.
//
// A changed area enters the dirty rectangles only through merge_dirty_rect
// and mark_layer_dirty (engine/image/dirty_rect.h); draw_window composes;
// reset_dirty_state empties the dirty state after a drawn frame.
//
// Window composition draws every leaf of the window's tree straight into the
// root image: groups are only containers there. A sized group limits its
// descendants to its own rectangle; a group of size 0 (a pure group) limits
// nothing. Every leaf is clipped against the root's dirty area in the root
// image's coordinates, so a group beside the changed layer is redrawn inside
// the changed area like any other layer.
#pragma once
#include "engine/frame/types.h"
#include "engine/image/dirty_rect.h"
#include "engine/image/tone_rows.h"

struct ObjectNode;
struct LayerImage;
struct WindowRecord;

// One placement of a source rectangle against an area (clip_blit_rects).
struct ClipRecord {
  i64 src_x = 0;
  i64 src_y = 0;
  i32 src_w = 0;
  i32 src_h = 0;
  i64 area_x = 0;
  i64 area_y = 0;
  i32 area_w = 0;
  i32 area_h = 0;
  u8 overlap_y = 0;  // 2 when the source starts before the area, plus 1 when it ends after it
  u8 overlap_x = 0;
  // Results.
  i32 offset_x = 0;  // into the source
  i32 offset_y = 0;
  i32 dst_x = 0;
  i32 dst_y = 0;
  i32 width = 0;  // 0 or negative when the two miss each other
  i32 height = 0;
};

// Counts the windows composed (the compositor's frame counter).
extern u64 g_composed_frame_counter;
// Counts composition passes (every top-level compose_layer_tree); the tone
// buffer of a layer is built at most once per pass, so a layer shown twice
// in one pass is toned once and every pass sees its current pixels.
extern u64 g_compose_pass;

// Draws window `window` (0..3): composes its root image when it changed.
// -1 when the composition failed, else the engine's quit flag.
int draw_window(int window);
// The layer tree a window shows: its root layer, or for window 0 without
// one the screen layer "W0". Null when there is none.
ObjectNode* window_root_node(int window);
LayerImage* window_root_image(int window);

// Composes node's tree. With window >= 0 and no_window 0 (window mode) the
// leaves are drawn into the window's root image over the root's dirty area
// (clip and offsets are ignored below the root: every level works in the
// root image's coordinates). Otherwise node's own image is recomposed over
// its dirty area intersected with the clip (node coordinates), child groups
// first into their own images, which are then blended like leaves.
// 0, or -1 after a reported error.
int compose_layer_tree(ObjectNode* node, int window, int nested, int depth, i64 offset_x, i64 offset_y,
                       i64 clip_left, i64 clip_top, i64 clip_right, i64 clip_bottom, u8 no_window);
// Flattens a group layer: its children composed into its own pixels over
// its whole area (a group without pixels is left alone). 0, or -1 after a
// reported error.
int flatten_group_layer(ObjectNode* node);

// Per axis: destination = max(s, a), offset into the source = max(s, a) - s,
// width = min(s + sw, a + aw) - max(s, a). Results saturate into i32.
void clip_blit_rects(ClipRecord* r);
// reset_rect := reset_rect union dirty; dirty_whole makes it the whole image
// (and is cleared).
void merge_into_present_rect(LayerImage* image);
// The mask weight table for image's mask_fade, mask_softness and alpha.
void build_mask_weights(const LayerImage* image);

// Blend jobs 101-104 over the clipped rectangle of r (offsets into src,
// destination position in dst); they return when every band is done. 0.
int post_blend_plain(LayerImage* dst, const LayerImage* src, const ClipRecord& r);
int post_blend_masked(LayerImage* dst, const LayerImage* src, const ClipRecord& r, const LayerImage* mask);
int post_blend_alpha(LayerImage* dst, const LayerImage* src, const ClipRecord& r);
int post_blend_alpha_masked(LayerImage* dst, const LayerImage* src, const ClipRecord& r, const LayerImage* mask);

// The pixels a layer is drawn with: its own pixels when its tone is neutral
// (a tone buffer left from an earlier tone is freed), else its tone buffer,
// built from the pixels it shows now at most once per composition pass.
// Null after a reported error (a width above 8192: box and 100010; no
// memory: 104030).
const u32* toned_pixels(LayerImage* image);

// Walks the layer tree below node (siblings and children of groups). The
// commands mark their areas themselves, so it finds nothing of its own.
void detect_layer_changes_from(ObjectNode* first);
// Empties the dirty state of every layer below node, then of the windows'
// own images.
void reset_dirty_state_from(ObjectNode* first);
