// A compositor for tests that redraws a whole layer tree every time, with
// the engine's blend kernels: the picture the dirty-rectangle compositor
// must produce after any sequence of changes.
//
// Rules it draws by: the image starts zeroed; the leaves are blended in
// tree order (children in list order, depth first) at their position summed
// over their ancestors; a group with a size limits its descendants to its
// rectangle, a group of size 0 limits nothing; a leaf is drawn when it is
// visible, its alpha is above 0, its content kind is 0, it has pixels and
// its mask does not hide it (mask name with mask fade 0). Tone and
// saturation are applied to a copy of the pixels it shows; a mask layer of
// the same size is found by name from the top of the layer tree.
#pragma once
#include <vector>

#include "engine/frame/types.h"

struct ObjectNode;

// Redraws the tree below root into out (width x height pixels, rows without
// padding). Returns 0, or -1 when a mask has the wrong size.
int reference_compose(ObjectNode* root, i32 width, i32 height, std::vector<u32>* out);
