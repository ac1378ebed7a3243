// A request's parameters as plain values, by parameter id: whether each was
// given, its assignment operator (0 set, 1 add, 2 subtract, 3 multiply,
// 4 divide), its number and its text. The layer and window functions that
// take many optional settings at once take them in this form, so they know
// nothing of how scripts encode their arguments; the command layer fills it
// from an instruction's decoded arguments, tests fill it directly.
#pragma once
#include "engine/frame/types.h"

struct ParamValue {
  u8 given = 0;
  u8 op = 0;
  i64 value = 0;
  const char* text = nullptr;  // null: no text ("" is read)
};

struct ParamSet {
  static constexpr u32 kIds = 256;
  ParamValue values[kIds];
  // The names that messages give: the request's (the command's) and each
  // parameter's (null: "").
  const char* request_name = "";
  const char* param_names[kIds] = {};

  bool given(u32 id) const { return id < kIds && values[id].given != 0; }
  // The number of a given parameter, 0 otherwise.
  i64 value(u32 id) const { return given(id) ? values[id].value : 0; }
  u32 op(u32 id) const { return given(id) ? values[id].op : 0; }
  // The text of a given parameter, "" otherwise.
  const char* text(u32 id) const { return given(id) && values[id].text ? values[id].text : ""; }

  const char* param_name(u32 id) const { return id < kIds && param_names[id] ? param_names[id] : ""; }

  void clear() {
    for (ParamValue& v : values) v = ParamValue{};
    for (const char*& n : param_names) n = nullptr;
    request_name = "";
  }
  void set(u32 id, i64 value, u32 op = 0) {
    if (id < kIds) values[id] = ParamValue{1, static_cast<u8>(op), value, nullptr};
  }
  void set_text(u32 id, const char* text) {
    if (id < kIds) values[id] = ParamValue{1, 0, 0, text};
  }
};
