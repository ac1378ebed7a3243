/* Preloaded into a program under test: its constructor, which the loader
   calls among the libraries' constructors, before any constructor of the
   program itself, sends the program the signal named in KL_SIGNAL_AT_LOAD
   ("INT" or "TERM"), as a Ctrl+C pressed while the program's libraries are
   still setting themselves up would. */
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

__attribute__((constructor)) static void signal_at_load(void) {
  const char* name = getenv("KL_SIGNAL_AT_LOAD");
  if (!name) return;
  if (strcmp(name, "INT") == 0) kill(getpid(), SIGINT);
  if (strcmp(name, "TERM") == 0) kill(getpid(), SIGTERM);
}
