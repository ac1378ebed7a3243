#!/usr/bin/env bash
# A game loads a zlib ZCG from its archive, a cwebp-made WebP with an alpha
# gradient, a PNG that it put into memory group 1 and deleted from disk, and
# frame 3 of a frame set packed from cjpeg's JPEGs, then saves its screen layer with command 20 as PNG and as JPEG. The window
# shows the reference compositor's picture of those layers exactly, the
# saved PNG equals the screenshot (ImageMagick), and djpeg reads the JPEG.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

for tool in convert cwebp cjpeg compare djpeg pngcheck; do
  command -v $tool >/dev/null || fail "$tool is not installed"
done
[ -x "$out/image_formats_game" ] || fail "no image-formats game writer"
game="$work/game"
mkdir -p "$game"
# The card: a colour gradient under an alpha gradient, as cwebp packs it.
convert -size 160x120 gradient:'#ff4020-#2060ff' '(' -size 120x160 gradient:white-black -rotate 90 ')' \
  -alpha off -compose CopyOpacity -composite PNG32:"$work/card.png" || fail "convert"
cwebp -quiet -q 80 "$work/card.png" -o "$game/card.webp" || fail "cwebp"
# The frame set's four frames: gradients in other colours and directions.
frames=()
k=0
for colours in '#d02020-#20d040' '#2030d0-#e0e020' '#20d0d0-#d020c0' '#f0f0f0-#302010'; do
  convert -size 96x72 gradient:"$colours" -rotate $((k * 90)) -resize 96x72! "$work/frame$k.ppm" || fail "convert"
  cjpeg -quality 90 -outfile "$work/frame$k.jpg" "$work/frame$k.ppm" || fail "cjpeg"
  frames+=("$work/frame$k.jpg")
  k=$((k + 1))
done
# The reference shows frame 3 as djpeg decodes it.
djpeg -pnm -outfile "$work/frame3_ref.ppm" "$work/frame3.jpg" || fail "djpeg refuses frame 3"
"$out/image_formats_game" game "$game" "$game/card.webp" "${frames[@]}" || fail "the game was not written"
rm -rf "$game/ztbin"  # the archive holds the engine files and the background
cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libZADazO.so" "$game/"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

(cd "$game" && exec ./k_lumbrane) >"$work/engine.log" 2>&1 &
engine=$!
main=$(find_window "k_lumbrane") || fail "the window did not appear"
for _ in $(seq 1 100); do [ -s "$game/saved.jpg" ] && break; sleep 0.1; done
[ -s "$game/saved.png" ] || fail "the screen layer was not saved as PNG"
[ -s "$game/saved.jpg" ] || fail "the screen layer was not saved as JPEG"
[ -e "$game/mem.png" ] && fail "mem.png was not deleted after it went into the memory group"
sleep 1
kill -0 $engine 2>/dev/null || fail "the game ended by itself"
"$out/image_formats_game" check "$main" "$game/card.webp" "$work/frame3_ref.ppm" "$work/shot.png" >"$work/check.log" 2>&1 ||
  { cat "$work/check.log"; fail "the window differs from the reference picture"; }
pngcheck -q "$game/saved.png" >/dev/null || fail "pngcheck refuses the saved PNG"
ae=$(compare -metric AE -alpha off "$game/saved.png" "$work/shot.png" null: 2>&1)
[ "$ae" = "0" ] || fail "the saved PNG differs from the screenshot in $ae pixels"
djpeg -pnm -outfile "$work/saved.ppm" "$game/saved.jpg" || fail "djpeg refuses the saved JPEG"
head -c 20 "$work/saved.ppm" | tr '\n' ' ' | grep -q "^P6 640 480 255" || fail "the JPEG is not 640x480"
psnr=$(compare -metric PSNR "$work/saved.ppm" "$work/shot.png" null: 2>&1 | cut -d' ' -f1)
awk -v p="$psnr" 'BEGIN { exit !(p + 0 >= 30) }' || fail "the JPEG is far from the screenshot: $psnr dB"
check_windows "$main"
kill -TERM $engine
wait_for_end $engine || fail "the engine did not end after SIGTERM"
wait $engine
rc=$?
engine=
[ $rc -eq 0 ] || fail "the engine exited with $rc"
echo "image formats: ok"
