#!/usr/bin/env bash
# bench/delayline between two namespaces of its own: the round trip is twice the delay, a TCP
# transfer arrives intact, and a full queue drops what it cannot hold and says how much.
set -euo pipefail
export LC_ALL=C
: "${QM_BINARY_DIR:?}"
skip() {
    echo "SKIP: $*"
    exit 77
}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
delayline=$QM_BINARY_DIR/bench/delayline
[ -x "$delayline" ] || skip "$delayline is built only with -DQUILLMET_BENCH=ON"
[ "$(id -u)" -eq 0 ] || skip "network namespaces and TUN devices need root"
[ -c /dev/net/tun ] || skip "there is no /dev/net/tun"
for tool in ip ping python3; do command -v "$tool" >/dev/null || skip "$tool is missing"; done

tag=qmd$$
a=${tag}a
b=${tag}b
scratch=$(mktemp -d)
line=
sink=
stop_line() {
    [ -n "$line" ] || return 0
    kill -TERM "$line" 2>/dev/null || true
    wait "$line" 2>/dev/null || true
    line=
}
cleanup() {
    stop_line
    [ -z "$sink" ] || kill -TERM "$sink" 2>/dev/null || true
    [ -z "$sink" ] || wait "$sink" 2>/dev/null || true
    ip netns del "$a" 2>/dev/null || true
    ip netns del "$b" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$a" 2>/dev/null || skip "cannot create network namespaces here"
ip netns add "$b"
ip -n "$a" tuntap add dev "${tag}a" mode tun || skip "cannot create TUN devices here"
ip -n "$b" tuntap add dev "${tag}b" mode tun
ip -n "$a" addr add 192.0.2.2 peer 192.0.2.1 dev "${tag}a"
ip -n "$b" addr add 192.0.2.1 peer 192.0.2.2 dev "${tag}b"
# The devices are named as their namespaces. No IPv6: nothing but the test's own packets.
for ns in "$a" "$b"; do
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
    ip -n "$ns" link set lo up
    ip -n "$ns" link set "$ns" up
done

# start_line DELAY_MS [ARGS...]: the delay line between the two, once it says it is ready.
start_line() {
    "$delayline" "${@:2}" "$1" "$a" "${tag}a" "$b" "${tag}b" >"$scratch/line.out" 2>"$scratch/line.err" &
    line=$!
    for _ in $(seq 100); do
        grep -q '^delayline: ready' "$scratch/line.out" && return 0
        kill -0 "$line" 2>/dev/null || fail "delayline ended: $(cat "$scratch/line.err")"
        sleep 0.05
    done
    fail "delayline did not get ready"
}

start_line 5
# Every reply takes at least the two 5 ms ways; the median no more than a little beyond.
ip netns exec "$a" ping -n -c 10 -i 0.2 -W 2 192.0.2.1 >"$scratch/ping" || fail "ping: $(cat "$scratch/ping")"
times=$(sed -nE 's/.* time=([0-9.]+) ms$/\1/p' "$scratch/ping" | sort -g)
[ "$(wc -l <<<"$times")" -eq 10 ] || fail "not 10 replies: $(cat "$scratch/ping")"
echo "ping through 5 ms each way (ms):" $times
awk '$1 < 10.0 { exit 1 }' <<<"$times" || fail "a reply came back in under 10 ms"
median=$(sed -n 5p <<<"$times")
awk -v m="$median" 'BEGIN { exit !(m < 15.0) }' || fail "the median round trip is $median ms, not under 15"

# 8 MiB of random bytes over TCP, the same at the other end.
ip netns exec "$b" python3 -c '
import hashlib, socket, sys
s = socket.create_server(("192.0.2.1", 5001))
print("listening", flush=True)
c, _ = s.accept()
h, n = hashlib.sha256(), 0
while chunk := c.recv(1 << 16):
    h.update(chunk); n += len(chunk)
print(n, h.hexdigest(), flush=True)
' >"$scratch/sink.out" &
sink=$!
for _ in $(seq 100); do
    grep -q listening "$scratch/sink.out" && break
    sleep 0.05
done
sent=$(ip netns exec "$a" python3 -c '
import hashlib, os, socket
data = os.urandom(8 << 20)
with socket.create_connection(("192.0.2.1", 5001), timeout=60) as s:
    s.sendall(data)
print(len(data), hashlib.sha256(data).hexdigest())
') || fail "the TCP transfer failed"
wait "$sink" || fail "the receiving end failed"
sink=
got=$(tail -n 1 "$scratch/sink.out")
[ "$got" = "$sent" ] || fail "sent '$sent', received '$got'"
echo "TCP: $got"
stop_line
! grep -qE ' [1-9][0-9]* dropped' "$scratch/line.err" || fail "an unshaped transfer lost packets: $(cat "$scratch/line.err")"

# A bottleneck of 1 Mbit/s: a 1428-byte packet takes 11.4 ms to send each way, on top of the
# delay; a queue 30 ms deep sheds what a burst brings beyond it.
start_line 5 --rate 1 --queue-ms 30
ip netns exec "$a" ping -n -c 3 -i 0.2 -s 1400 -W 2 192.0.2.1 >"$scratch/ping" || fail "ping: $(cat "$scratch/ping")"
slowest_first=$(sed -nE 's/.* time=([0-9.]+) ms$/\1/p' "$scratch/ping" | sort -g | head -n 1)
echo "ping of 1428 bytes through 1 Mbit/s and 5 ms each way: at least $slowest_first ms"
awk -v t="$slowest_first" 'BEGIN { exit !(t >= 32.8) }' || fail "the bottleneck did not hold the packets: $slowest_first ms"
ip netns exec "$a" ping -n -c 10 -l 10 -s 1400 -W 2 -q 192.0.2.1 >/dev/null 2>&1 || true
stop_line
grep -qE ' [1-9][0-9]* shed by the bottleneck' "$scratch/line.err" ||
    fail "a burst beyond the queue was not shed: $(cat "$scratch/line.err")"

# A queue of 8: a burst of 1000 datagrams inside one delay can pass only 8 at a time; the
# rest are counted as dropped, and what arrived and what was dropped make up what was sent.
start_line 50 --limit 8
received=$(ip netns exec "$b" python3 -c '
import socket
r = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
r.bind(("192.0.2.1", 5002))
r.settimeout(3.0)
print("ready", flush=True)
n = 0
try:
    while True:
        r.recv(64); n += 1
except socket.timeout:
    pass
print(n)
' | {
    read -r _
    ip netns exec "$a" python3 -c '
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for _ in range(1000):
    s.sendto(b"x" * 32, ("192.0.2.1", 5002))
'
    tail -n 1
})
stop_line
dropped=$(sed -nE "s/^delayline: ${tag}a -> ${tag}b: [0-9]+ packets forwarded, ([0-9]+) dropped.*/\1/p" "$scratch/line.err")
echo "burst of 1000 through a queue of 8: $received received, ${dropped:-?} dropped"
[ "$received" -lt 1000 ] || fail "all 1000 passed a queue of 8"
[ -n "$dropped" ] && [ $((received + dropped)) -eq 1000 ] ||
    fail "received $received and dropped ${dropped:-?} do not make 1000: $(cat "$scratch/line.err")"
