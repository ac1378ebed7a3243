/* Preloaded into a program under test: after the number of successful
   rename() calls given in KL_KILL_AFTER_RENAMES, the program is killed with
   SIGKILL, as a crash or a power cut at exactly that point would stop it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static int renames_done;

int rename(const char* from, const char* to) {
  static int (*real_rename)(const char*, const char*);
  if (!real_rename) real_rename = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  int r = real_rename(from, to);
  const char* limit = getenv("KL_KILL_AFTER_RENAMES");
  if (r == 0 && limit && ++renames_done >= atoi(limit)) kill(getpid(), SIGKILL);
  return r;
}
