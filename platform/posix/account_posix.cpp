#include <unistd.h>

#include "platform/process.h"

int user_is_administrator() { return geteuid() == 0 ? 1 : 0; }
