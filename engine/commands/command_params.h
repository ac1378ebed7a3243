// What the handlers share: the decoded arguments as plain values for the
// subsystems, the names that messages give, and the result variables.
#pragma once
#include <string>

#include "engine/frame/param_set.h"
#include "engine/frame/types.h"

// The current instruction's decoded arguments as plain values, with the
// command's and its parameters' names for messages (valid until the next
// call).
const ParamSet& decoded_params(u32 command);
// The name of a command and of one of its parameters in the command list
// ("" when there is none).
const char* command_name(u32 command);
const char* command_param_name(u32 command, u32 param_id);

// Stores an answer into the bare variable reference given as parameter
// param of command: a number into an integer or float variable, a text
// (bounded to an element's text size) into a text variable. Any other
// reference is error 101140 (fatal), naming the command and the parameter.
// 0, or -1 after the report.
int store_number_result(u32 command, u32 param, i64 value);
int store_text_result(u32 command, u32 param, const std::string& text);

// Parameter name_id's text with ".<parameter number_id>" behind it when that
// is given: the way layer commands name a numbered layer ("name.3").
std::string numbered_name_arg(u32 name_id = 0, u32 number_id = 1);
