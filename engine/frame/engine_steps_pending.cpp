// Steps of parts not built yet: each does nothing and reports success.
// A part that builds a step deletes it here and defines it in its own file.
#include "engine/frame/engine_steps.h"
#include "engine/frame/engine_state.h"

