#!/usr/bin/env bash
# The built program on a real X server: its window carries the icon at every drawn size and
# the class that the menu entry's StartupWMClass names; SIGTERM then ends it with status 0,
# leaving qm1.dat in the folder it was started in.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/package/common.sh
source "$here/common.sh"
need xvfb-run Xvfb xauth xwininfo xprop

if [ "${1:-}" != --inside ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inside
fi

scratch=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

cd "$scratch"
QT_QPA_PLATFORM=xcb "$QM_BINARY_DIR/quillmet" >"$scratch/out.log" 2>&1 &
pid=$!

window=
for _ in $(seq 300); do
    window=$(xwininfo -root -tree 2>/dev/null |
        sed -nE 's/^ *(0x[0-9a-f]+) "Quillmet ver\.1\.90".*/\1/p' | head -1)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || fail "quillmet ended early: $(cat "$scratch/out.log")"
    sleep 0.1
done
[ -n "$window" ] || fail "no window titled 'Quillmet ver.1.90' within 30 s"

desktop=$QM_BINARY_DIR/install-data/$app_id.desktop
wm_class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
xprop -id "$window" WM_CLASS | grep -qF "= \"quillmet\", \"$wm_class\"" ||
    fail "WM_CLASS $(xprop -id "$window" WM_CLASS) does not match StartupWMClass=$wm_class"
echo "ok: WM_CLASS matches StartupWMClass=$wm_class"

# -len: xprop's default would cut the property short of the 256 px icon.
sizes=$(xprop -len 1000000 -id "$window" _NET_WM_ICON |
    sed -nE 's/.*Icon \(([0-9]+) x ([0-9]+)\):.*/\1x\2/p' | sort -n | tr '\n' ' ')
[ "$sizes" = "16x16 32x32 48x48 256x256 " ] || fail "_NET_WM_ICON sizes: '$sizes'"
# The 48 px icon is the drawing, not an empty square: its corner is clear, its middle not.
icon48=$(xprop -len 1000000 -notype -id "$window" -f _NET_WM_ICON 32c _NET_WM_ICON |
    tr -d ' \n' | sed 's/^[^=]*=//' | tr ',' '\n')
pixels=$(awk -v want=48 '
    { v[NR] = $1 }
    END {
        # Each icon: width, height, then width x height ARGB pixels.
        for (i = 1; i < NR; i += 2 + v[i] * v[i + 1])
            if (v[i] == want) { print v[i + 2], v[i + 2 + 24 * want + 24]; exit }
    }' <<<"$icon48")
read -r corner middle <<<"$pixels"
[ -n "$middle" ] || fail "no 48 px icon in _NET_WM_ICON"
[ $((corner >> 24)) -eq 0 ] || fail "the 48 px icon's corner is not transparent ($corner)"
[ $((middle >> 24)) -eq 255 ] || fail "the 48 px icon's middle is not opaque ($middle)"
echo "ok: _NET_WM_ICON holds $sizes"

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
[ "$status" = 0 ] || fail "exit status $status after SIGTERM: $(cat "$scratch/out.log")"
[ -s "$scratch/qm1.dat" ] || fail "no qm1.dat in the folder the program started in"
echo "window icon: all checks passed"
