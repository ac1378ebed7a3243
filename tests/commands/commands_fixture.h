// Running one command of these families inside a small game: the command
// list line of a command with n parameters (text ones by id), a body run
// once in the system task, and the first error number it reported.
#pragma once
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/frame/errors.h"
#include "engine/frame/startup.h"
#include "tests/support/game_writer_run.h"

inline std::string command_line(u32 id, u32 params, std::set<u32> text_params = {}, std::set<u32> raw_params = {}) {
  std::string s = "command " + std::to_string(id) + " cmd" + std::to_string(id);
  for (u32 p = 0; p < params; ++p) {
    const char* kind = text_params.count(p) ? "text" : raw_params.count(p) ? "raw" : "num";
    s += " p" + std::to_string(p) + ":" + kind + ":0";
  }
  return s + "\n";
}

constexpr const char* kIdleLoop = "loop L:-1\nwait B:1\nendloop\n";

// Runs body once; the first error number reported (0 when none).
inline u32 run_once(GameRun& run, const std::string& header, const std::string& body) {
  if (!g_text_record) g_text_record = new TextRecord();
  int r = run.load_text(header + "script 0 main.txt\nlabel SYSTEM_START\n" + body + kIdleLoop);
  EXPECT_EQ(r, 0) << g_error_report_log.last_message;
  reset_error_report_log();
  run.frame();
  return g_error_report_log.report_count ? g_error_report_log.last_number : 0;
}
