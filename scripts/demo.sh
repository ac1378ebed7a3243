#!/usr/bin/env bash
# Installs what is missing, builds, and runs the engine on the bundled demo
# game.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
bash scripts/build.sh build
game=build/demo-game
mkdir -p "$game"
# The engine and the libraries it loads at run time: block compression,
# the WebP plug-in and the Theora movie library.
cp build/out/k_lumbrane build/out/libZTZid.so build/out/libZADazO.so build/out/libTheoraLib.so "$game"/
[ -d build/demo/game ] && cp -r build/demo/game/. "$game"/
# The data-file checker beside the engine; its list comes with the game.
cp build/out/ZTFChk "$game"/
cd "$game" && exec ./k_lumbrane "$@"
