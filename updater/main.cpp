// The updater program: window-less, it talks to the user only through
// message boxes. It runs with the user's rights.
#include "platform/platform.h"
#include "updater/updater.h"

int main() {
  platform_select_real();
  return updater_main();
}
