// Operations between layers: the pixel effects from one layer into another,
// resizes, text stamped into a layer and exchanges of two layers' places,
// all chosen by one request (the layer drawing command).
//
// The request's parameters (a ParamSet, by parameter id):
//   0-3   names of the target and of layers 2, 3, 4 ('/'-separated paths
//         from the layer base); 4-7 numbers whose digits are appended to them
//   9     the operation's value, 10 its second value (each through its
//         assignment operator applied to 0): the wave's amplitude and phase
//         (degrees), the alpha ramp's two columns
//   11    text (text stamping)
//   12-15 x0, y0, x1, y1 of the rectangle (inclusive, target pixels);
//         absent ones default to the whole target; clamped into the target
//         except for 24-28, 34-39 and 41; a rectangle whose corners cross
//         after clamping is refused (101000)
//   16-17 new width and height (24-28); 18 replaces x0 x 100; 22, 23
//         replace the destination width x 100 and height x 100
//   then the first present of the operation parameters, in the order of
//   layer_draw (24-28, 29, 30, 31, 32, 33, 42-53, 54-56, 62, 57, 58-60, 61,
//   63, 64, 34-41, 65, 66, 67, 68, 69, 70).
// Rotations (29 nearest, 30 bilinear) turn the target by parameter 9's
// degrees about its centre, in place (uncovered corners take the fill byte)
// or into layer 2 (over what that layer holds when its size matches).
// Transfers (34 copy, 35 copy weighted by both alphas, 36 cross-fade of
// layers 2 and 3 by parameter 9, 38 difference mask, 39 equality mask) put
// layer 2 at (x0, y0) of the target, at most the rectangle's size; 37 only
// checks its layer. 40 trims the target (or into layer 2) to its pixels that
// are not wholly clear, parameter 9 the sides. The GPU paste: 69 cuts layer 2
// (the target without one) into textures, 70 draws it and reads the picture
// back into the target; without GPU drawing both leave everything as it is.
// Resizes: 24 nearest (mode 10), 25 sharpened bilinear (21), 26 bicubic
// (31), 27 supersampled bilinear (41), 28 windowed sinc (51). 41 adds the
// margins left = p12, top = p13, right = p14, bottom = p15 (negative cuts).
//
// Text (63, 64): the text of parameter 11 is drawn character by character
// from (x0, y0) with the style of the text record (glyph width and height,
// bold, smoothing at 4x through the coverage and grey tables); the pen
// advances by each character's measure and a CR LF starts a new line one
// glyph height lower. Parameter 9's value is the edge e: 0 a plain face,
// 1-10 an outline of e pixels, 11 and above a drop shadow of e - 10 pixels;
// the outline or shadow is stamped in the second colour first and the face
// in the colour on top. Level A is the direction of a colour gradient
// (1 down, 2 up, 3 right, 4 left, 5 to the bottom right, 6 to the top left,
// 7 to the bottom left, 8 to the top right; 0 flat) and level B its colour
// set (1 toward black, 2 toward white, 3 toward the other colour; 0 flat).
// 63 writes colour and coverage as alpha over what is there (text on a clear
// layer); 64 blends the colour over the pixels by coverage.
#pragma once
#include "engine/frame/param_set.h"
#include "engine/frame/types.h"

struct ObjectNode;
struct LayerImage;

// Runs the request: 0 done or nothing to do (no target), -1 after a
// reported error (the layers keep their old pixels).
int layer_draw(const ParamSet& p);

// Runs effect type on the rectangle of source's pixels; the result becomes
// the pixels of result (or of source without one). value2 and fill_mode as
// in EffectJob. 0, or -1 after a report (100010 too wide, 104030 no memory).
int layer_draw_to_layer(int type, ObjectNode* source, ObjectNode* result, i32 x0, i32 y0, i32 x1, i32 y1, i64 value,
                        i64 value2, int fill_mode);
// The display attributes of src onto dst; texts are copied, owned handles
// (textures, players, frames) never.
void copy_layer_attributes(LayerImage* dst, const LayerImage* src);

// Exchanges two layers: order keys, names (with their key-index entries),
// and for mode 1 the positions, for mode 2 also visible, alpha, mask fade
// and softness and blend mode. 0, or -1 when either is missing or a tree
// root.
int swap_layers(ObjectNode* a, ObjectNode* b, int mode);
// Each takes the other's order key and is re-inserted: 1, 0 when either is
// missing or has no parent.
int swap_order_keys(ObjectNode* a, ObjectNode* b);

// Stamps a glyph (gw x gh coverage bytes) into image at (x, y) with the ring
// rules of the edge e; routine 63 or 64. Returns the number of stamps drawn
// (a stamp not wholly inside is refused).
struct GlyphStyle {
  u32 colour = 0xFFFFFF;
  u32 second_colour = 0xFFFFFF;
  int direction = 0;   // level A
  int colour_set = 0;  // level B
};
int stamp_text_glyph(LayerImage* image, const u8* coverage, i32 gw, i32 gh, i64 x, i64 y, i64 e,
                     const GlyphStyle& style, int routine);
// Draws text (Shift-JIS) into node's layer from (x, y) with the text
// record's style; 0, or -1 after a report.
int draw_text_into_layer(ObjectNode* node, const char* text, i64 x, i64 y, i64 e, int routine);
