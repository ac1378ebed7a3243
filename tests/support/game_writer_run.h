// Runs a game written by the game writer inside a unit test: the game's
// files go into a scratch folder that becomes the program and project
// folder, the task tree and the engine files are loaded as start-up loads
// them, and frames run the scheduler's passes on the fake clock.
#pragma once
#include <string>

#include "engine/commands/command_table.h"
#include "tests/support/game_writer.h"

struct GameRun {
  std::string folder;
  GameRun();
  ~GameRun();
  // Writes the files and loads them: the result of load_engine_data (0 ok),
  // or -2 when the configuration or the task tree failed.
  int load(const GameFiles& files);
  int load_text(const std::string& game_text) { return load(build_game(game_text)); }
  // Loads again from what the data sources hold now (the folder, and the
  // memory groups as the caller left them), writing nothing.
  int start();
  // One frame's script part: the frame counter advances, then passes run
  // while a script asks to run again. The number of passes.
  int frame();
  // Binds command id to handler in the command table and in every script
  // loaded so far (stand-ins for commands of other parts).
  void override_command(u32 id, CommandHandler handler);
  // Frames until quit is requested or count frames ran.
  void frames(int count);
};

// A stand-in for the wait command: parameter 0 into the current task's
// wait_frames; the turn ends.
u32 wait_frames_stand_in();
