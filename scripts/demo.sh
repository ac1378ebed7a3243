#!/usr/bin/env bash
# Installs what is missing, builds, makes the demo's game folder as a game
# ships (scripts/demo_folder.sh) and runs the engine in it.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
bash scripts/build.sh build
game=build/demo-game
bash scripts/demo_folder.sh build "$game"
cd "$game" && exec ./k_lumbrane "$@"
