// The hosted Flash control as the host sees it: the control-hosting library
// "atl.dll" with its three entry points, and the control's interface, a
// table of its methods in slot order. Texts are Shift-JIS. Results are 0
// for success, as HRESULTs are.
#pragma once
#include <cstdint>

struct FlashControl;

struct FlashControlMethods {
  // The interface a control offers for the Flash class id ("{d27cdb6c-...}");
  // the answer holds a reference of its own.
  int (*query_interface)(FlashControl* self, const char* iid, FlashControl** out);
  void (*release)(FlashControl* self);
  // The six methods of the Flash interface, in their order.
  int (*get_total_frames)(FlashControl* self, std::int32_t* frames);
  int (*get_playing)(FlashControl* self, std::int16_t* playing);  // -1 true, 0 false
  int (*put_movie)(FlashControl* self, const char* sjis_path);
  int (*play)(FlashControl* self);
  int (*current_frame)(FlashControl* self, std::int32_t* frame);
  int (*get_variable)(FlashControl* self, const char* sjis_name, char* value, int value_size);
};

struct FlashControl {
  const FlashControlMethods* methods;
};

// "atl.dll"'s entry points, looked up by these names.
using AtlAxWinInitFn = int (*)();
// Creates the control of the class id inside the child area: 0 or failure.
using AtlAxCreateControlFn = int (*)(const char* class_id, std::uint32_t child_area, void* stream, void** container);
// The control inside the child area (a reference the caller releases).
using AtlAxGetControlFn = int (*)(std::uint32_t child_area, FlashControl** control);

constexpr const char* kFlashClassId = "{d27cdb6e-ae6d-11cf-96b8-444553540000}";
constexpr const char* kFlashInterfaceId = "{d27cdb6c-ae6d-11cf-96b8-444553540000}";
