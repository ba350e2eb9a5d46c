#!/usr/bin/env bash
# scripts/sample-host end to end: start on a free port in a folder of its own, fetch over raw
# HTTP/1.0, status, stop.
set -euo pipefail
export LC_ALL=C
: "${QM_SOURCE_DIR:?}" "${QM_BINARY_DIR:?}"
# shellcheck source=tests/support/free_port.sh
source "$QM_SOURCE_DIR/tests/support/free_port.sh"

host=$QM_SOURCE_DIR/scripts/sample-host
export QM_BUILD_DIR=$QM_BINARY_DIR
export QM_SAMPLE_HOST_DIR=$QM_BINARY_DIR/sample-host-test
www=$QM_SAMPLE_HOST_DIR/www
scratch=$(mktemp -d)
passed=0

cleanup() {
    "$host" stop >/dev/null 2>&1 || true
    rm -rf "$scratch"
    # Keep the logs of a failed run.
    [ "$passed" = 1 ] && rm -rf "$QM_SAMPLE_HOST_DIR"
    return 0
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Starts from nothing, so the samples are written by the script itself.
rm -rf "$QM_SAMPLE_HOST_DIR"

start_on_free_port "$host"
echo "$out"

# GET over a bare socket; the reply goes to $2 as it came, header and body.
fetch() {
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf 'GET %s HTTP/1.0\r\nHost: localhost:%s\r\nAccept-Encoding: gzip, deflate\r\n\r\n' \
        "$1" "$port" >&3
    timeout 30 cat <&3 >"$2"
    exec 3<&-
}

# Checks one reply: 200, Content-Length equal to the file, the body the file's own bytes,
# nothing compressed or chunked.
check() {
    local path=$1 file=$2 reply=$scratch/reply header length
    fetch "$path" "$reply"
    header=$(sed '/^\r$/q' "$reply")
    grep -qE '^HTTP/1\.[01] 200 ' <<<"$header" || fail "$path: $(head -1 <<<"$header")"
    length=$(sed -nE 's/^Content-Length: ([0-9]+)\r$/\1/ip' <<<"$header")
    [ "$length" = "$(stat -c %s "$file")" ] ||
        fail "$path: Content-Length '$length', file $(stat -c %s "$file")"
    ! grep -qiE '^(Content-Encoding|Transfer-Encoding):' <<<"$header" ||
        fail "$path: encoded reply"
    tail -c +"$(($(sed '/^\r$/q' "$reply" | wc -c) + 1))" "$reply" >"$scratch/body"
    cmp -s "$scratch/body" "$file" || fail "$path: body differs from $file"
    echo "ok $path ($length bytes)"
}

check /qm/qm100K.jpg "$www/qm/qm100K.jpg"
[ "$(stat -c %s "$www/qm/qm100K.jpg")" = 102400 ] || fail "qm100K.jpg is not 102,400 bytes"
check /qm/qm15M.jpg "$www/qm/qm15M.jpg"
check /test/big.jpg "$www/test/big.jpg"
check /test/sml.jpg "$www/test/sml.jpg"
check / "$www/index.html"
check /author/ "$www/author/index.html"
grep -q Quillmet "$scratch/body" || fail "the author page does not name Quillmet"

# The local default offers what quillmet-server does: the descriptor, the probe, the sink.
base=http://127.0.0.1:$port
curl -sf "$base/.well-known/quillmet.json" | python3 -c '
import json, os, sys
d = json.load(sys.stdin)
files = {f["path"]: f["bytes"] for f in d["files"]}
assert files["/qm/qm100K.jpg"] == 102400, files
assert files["/qm/qm15M.jpg"] == os.path.getsize(sys.argv[1] + "/qm/qm15M.jpg"), files
assert d["upload"] == {"path": "/qm/up", "max_bytes": 268435456} and d["empty"] == "/qm/empty", d
' "$www" || fail "the descriptor does not list the samples"
[ "$(curl -s -D - -o "$scratch/empty" "$base/qm/empty" | grep -ci '^cache-control: no-store')" = 1 ] ||
    fail "/qm/empty is not no-store"
[ ! -s "$scratch/empty" ] || fail "/qm/empty is not empty"
reply=$(head -c 1000000 /dev/zero | curl -s --data-binary @- "$base/qm/up")
[ "$reply" = '{"bytes":1000000}' ] || fail "/qm/up answered '$reply'"
echo "ok: descriptor, /qm/empty, /qm/up"

# A second start finds the server running and leaves it be.
out=$("$host" start) || fail "second start failed"
grep -q "already running" <<<"$out" || fail "second start: $out"

"$host" status || fail "status says not running"
pid=$(<"$QM_SAMPLE_HOST_DIR/run/nginx.pid")

"$host" stop || fail "stop failed"
if "$host" status; then
    fail "status says running after stop"
fi
state=$(sed -E 's/^[0-9]+ \(.*\) ([A-Za-z]).*/\1/' "/proc/$pid/stat" 2>/dev/null || echo gone)
[ "$state" = gone ] || [ "$state" = Z ] || fail "pid $pid still there ($state)"
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    fail "port $port still accepts connections"
fi

passed=1
echo "sample host: all checks passed"
