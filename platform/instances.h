// The running-window query: "a window of class X exists", and bringing that
// window forward, across processes. The engine announces its main window's
// class while it runs; another process asks by the class name.
#pragma once

struct WindowClassListener;

struct PlatformInstanceQuery {
  // Starts answering for class_name in this process. on_bring_forward runs on
  // a background thread when another process asks to bring the window
  // forward; it must only post work to the GUI thread. Returns null on
  // failure (for example when the class is announced already).
  WindowClassListener* (*announce)(const char* class_name, void (*on_bring_forward)(void* user), void* user);
  // Stops answering and joins the thread (waits for a running
  // on_bring_forward to return); null is ignored.
  void (*withdraw)(WindowClassListener* listener);
  // 1 when a window of the class exists in a process of this user, else 0
  // (a process of another user that holds the name is nobody's window here).
  int (*exists)(const char* class_name);
  // Asks the owner of the class to bring its window forward. 0 when asked,
  // -1 when no window of this user's has the class.
  int (*bring_forward)(const char* class_name);
  // 1 when a process of another user holds the class's name, so that this
  // user can't announce it; else 0.
  int (*held_by_other_user)(const char* class_name);
};

// An abstract Unix socket named after the class (ASCII letters folded, as
// class names are case-insensitive) and the user; only the same user's
// processes are answered, and only a holder of the same user counts (any
// user can bind any abstract name). exists and bring_forward wait at most a
// few seconds for a busy owner.
extern const PlatformInstanceQuery kPosixInstanceQuery;
