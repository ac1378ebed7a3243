// What the error dialog's edit button opens: presses it with the recording
// process starter and an associated editor whose parameters are the script
// path, then "/j" and the line.
#pragma once
#include <string>
#include <vector>

#include "engine/frame/errors.h"
#include "platform/process.h"
#include "platform/ui.h"

struct EditedScript {
  bool opened = false;
  std::string path;  // as handed to the editor
  std::string line_arg;
};

inline EditedScript press_edit_button() {
  fake_process_reset();
  fake_ui_set_associated_program("K2Editor.exe");
  open_script_in_editor();
  EditedScript e;
  if (!fake_process_calls().empty()) {
    const std::vector<std::string> args = fake_process_calls().back().args;
    e.opened = true;
    if (args.size() >= 1) e.path = args[0];
    if (args.size() >= 2) e.line_arg = args[1];
  }
  fake_ui_set_associated_program("");
  fake_process_reset();
  return e;
}
