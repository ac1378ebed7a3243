#!/usr/bin/env bash
# Makes the demo's game folder as a game ships, from a finished build:
#   scripts/demo_folder.sh <build folder> <game folder>
# The folder gets the engine and the libraries it loads at run time (block
# compression, the WebP plug-in, the Theora movie library), the data-file
# checker, the archive "game.zpf" with the compiled engine files, the
# pictures and the sounds, the two movies (played from files), and the
# checker's list "ztfchk.ini" of all of it with CRC-32 values. What a run
# left in the folder (saves, "shot.png", the debug log) stays.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
game=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
"$build/demo/make_demo" --ship "$here/demo/demo.game" "$stage" game.zpf \
  "$build/demo/game/tune.ogg" "$build/demo/game/effect.wav" >/dev/null
cp "$build/out/k_lumbrane" "$build/out/ZTFChk" "$build/out/libZTZid.so" "$build/out/libZADazO.so" \
  "$build/out/libTheoraLib.so" "$stage/"
"$build/demo/make_demo" --check-list "$stage"
mkdir -p "$game"
# Files of an older layout (loose compiled files and pictures) would be
# found before the archive's; they go.
rm -rf "$game/ztbin" "$game"/*.bmp "$game"/*.zcg "$game"/*.webp "$game"/*.fs "$game"/*.ogg "$game"/*.wav
cp -r "$stage/." "$game/"
