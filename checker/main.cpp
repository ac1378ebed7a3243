// The data-file checker program: one modal dialog, no command-line options.
#include "checker/checker.h"
#include "platform/platform.h"

int main() {
  platform_select_real();
  return checker_main();
}
