#!/usr/bin/env bash
# quillmet-server across a line: the server in one network namespace listening on 0.0.0.0 and
# [::], the client in another, joined by a veth pair on addresses that exist only there.
set -euo pipefail
export LC_ALL=C
: "${QM_SOURCE_DIR:?}" "${QM_BINARY_DIR:?}"
skip() {
    echo "SKIP: $*"
    exit 77
}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
for tool in ip python3 /usr/sbin/nginx; do command -v "$tool" >/dev/null || skip "$tool is missing"; done

tag=qm$$
srv=${tag}srv
cli=${tag}cli
scratch=$(mktemp -d)
# Readable by nobody, whom the server drops to.
chmod 755 "$scratch"
server=
cleanup() {
    [ -z "$server" ] || kill -TERM "$server" 2>/dev/null || true
    [ -z "$server" ] || wait "$server" 2>/dev/null || true
    ip netns del "$srv" 2>/dev/null || true
    ip netns del "$cli" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

ip netns add "$srv" 2>/dev/null || skip "cannot create network namespaces here"
ip netns add "$cli"
ip link add "${tag}a" netns "$srv" type veth peer name "${tag}b" netns "$cli"
ip -n "$srv" addr add 192.0.2.1/24 dev "${tag}a"
ip -n "$cli" addr add 192.0.2.2/24 dev "${tag}b"
ip -n "$srv" addr add fd00:51::1/64 dev "${tag}a" nodad
ip -n "$cli" addr add fd00:51::2/64 dev "${tag}b" nodad
for ns in "$srv" "$cli"; do
    ip -n "$ns" link set lo up
done
ip -n "$srv" link set "${tag}a" up
ip -n "$cli" link set "${tag}b" up

# The namespace is ours: any port is free in it.
port=18080
RUNTIME_DIRECTORY=$scratch/run CACHE_DIRECTORY=$scratch/cache QM_BUILD_DIR=$QM_BINARY_DIR \
    ip netns exec "$srv" "$QM_SOURCE_DIR/scripts/quillmet-server" --listen "0.0.0.0:$port" \
    --listen "[::]:$port" --name "netns test" --foreground >"$scratch/server.log" 2>&1 &
server=$!
for _ in $(seq 600); do
    grep -q '^quillmet-server: serving' "$scratch/server.log" && break
    kill -0 "$server" 2>/dev/null || fail "the server ended: $(cat "$scratch/server.log")"
    sleep 0.1
done
grep -q '^quillmet-server: serving' "$scratch/server.log" ||
    fail "the server did not start: $(cat "$scratch/server.log")"
in_cli() { ip netns exec "$cli" "$@"; }

# A download run of the CLI through the veth.
line=$(in_cli "$QM_BINARY_DIR/quillmet-cli" --json "http://192.0.2.1:$port/qm/qm4M.jpg") ||
    fail "quillmet-cli: $line"
echo "cli: $line"

# The HTTP upload to the server's sink through the veth: five counted rounds.
line=$(XDG_CONFIG_HOME=$scratch/config in_cli "$QM_BINARY_DIR/quillmet-cli" --upload-http \
    --server "192.0.2.1:$port" --json) || fail "quillmet-cli --upload-http: $line"
echo "cli: $line"
grep -q '"kind":"upload-http"' <<<"$line" || fail "not an HTTP upload's record: $line"
[ "$(grep -o '"bytes":[0-9]*' <<<"$line" | sed -n '2,$p' | grep -vc '"bytes":0$')" -ge 5 ] ||
    fail "fewer than five rounds with bytes: $line"

# The descriptor over IPv6 lists every sample with its real size.
in_cli python3 - "http://[fd00:51::1]:$port/.well-known/quillmet.json" "$scratch/cache/www/qm" <<'PY' ||
import json, os, sys, urllib.request
d = json.load(urllib.request.urlopen(sys.argv[1], timeout=30))
real = {"/qm/" + f: os.path.getsize(os.path.join(sys.argv[2], f))
        for f in os.listdir(sys.argv[2]) if f.endswith(".jpg")}
assert {f["path"]: f["bytes"] for f in d["files"]} == real, (d["files"], real)
assert d["name"] == "netns test" and d["upload"]["max_bytes"] == 256 << 20, d
print(f"ok: quillmet.json over IPv6 lists {len(real)} files with their sizes")
PY
    fail "the descriptor"

# The download run over IPv6 to the server on [::]: the literal in brackets, as typed.
line=$(XDG_DATA_HOME=$scratch/data in_cli "$QM_BINARY_DIR/quillmet-cli" --json \
    "http://[fd00:51::1]:$port/qm/qm4M.jpg") || fail "quillmet-cli over IPv6: $line"
echo "cli: $line"
grep -q '"family":"ipv6"' <<<"$line" && grep -q '"address":"fd00:51::1"' <<<"$line" ||
    fail "not over IPv6: $line"
grep -q "\"history_line\":\"\\**\[fd00:51::1\]:$port," <<<"$line" ||
    fail "the history line's host: $line"

# Both families, one name: a hosts file bound over /etc/hosts in a mount namespace of its own.
printf '192.0.2.1 both.quillmet.test\nfd00:51::1 both.quillmet.test\n' >"$scratch/hosts"
pair=$(XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data in_cli unshare -m sh -c \
    'mount --bind "$0" /etc/hosts && exec "$@"' "$scratch/hosts" "$QM_BINARY_DIR/quillmet-cli" \
    --family both --json --server "both.quillmet.test:$port" --size 4M) ||
    fail "quillmet-cli --family both: $pair"
echo "pair: $pair"
python3 - "$pair" <<'PY' || fail "the pair"
import json, sys
a, b = [json.loads(line) for line in sys.argv[1].splitlines()]
assert (a["family"], a["address"]) == ("ipv4", "192.0.2.1"), a
assert (b["family"], b["address"]) == ("ipv6", "fd00:51::1"), b
print("ok: --family both measured 192.0.2.1, then fd00:51::1")
PY

in_cli python3 "$QM_SOURCE_DIR/tests/server/line_client.py" 192.0.2.1 "$port" \
    "$QM_BINARY_DIR/quillmet-cli" || fail "the line checks"
echo "server across a line: all checks passed"
