# Arithmetic of bench/run, sourced by it and by its test. Numbers come one per line on
# standard input unless said otherwise; results are printed.

# The mean of the middle three of five values: the fastest and the slowest dropped, as a
# download run does.
mid3_mean() {
    sort -g | awk '{ v[NR] = $1 }
        END {
            if (NR != 5) { print "mid3_mean: " NR " values, not 5" > "/dev/stderr"; exit 1 }
            printf "%.6f\n", (v[2] + v[3] + v[4]) / 3
        }'
}

# "median min max" of one or more values.
median_range() {
    sort -g | awk '{ v[NR] = $1 }
        END {
            if (NR == 0) { print "median_range: no values" > "/dev/stderr"; exit 1 }
            m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            printf "%.6f %.6f %.6f\n", m, v[1], v[NR]
        }'
}

# The mean of one or more values.
mean() {
    awk '{ s += $1; n++ } END {
        if (n == 0) { print "mean: no values" > "/dev/stderr"; exit 1 }
        printf "%.6f\n", s / n }'
}

# TCP payload bits per second of a line shaped to RATE Mbit/s: 1448 payload bytes in every
# 1514-byte Ethernet frame (MTU 1500, TCP timestamps on).
goodput_bps() {
    awk -v r="$1" 'BEGIN { printf "%.1f\n", r * 1e6 * 1448 / 1514 }'
}

# A / B with DIGITS decimals (default 3); "n/a" when B is zero or either is missing.
ratio() {
    awk -v a="${1:-}" -v b="${2:-}" -v d="${3:-3}" 'BEGIN {
        if (a == "" || b == "" || b + 0 == 0) { print "n/a"; exit }
        printf "%.*f\n", d, a / b }'
}

# Bits per second of a history line's kbps field (1 kbps = 1024 bit/s).
history_bps() {
    awk -F, 'NF == 10 && $8 == "kbps" { printf "%.1f\n", $7 * 1024; ok = 1 }
        END { if (!ok) { print "history_bps: not a history line" > "/dev/stderr"; exit 1 } }' \
        <<<"$1"
}

# The mark of a history line: "*", "**" or nothing.
history_mark() {
    local first=${1%%,*}
    if [[ $first == '**'* ]]; then
        echo '**'
    elif [[ $first == '*'* ]]; then
        echo '*'
    else
        echo ''
    fi
}

# Start times (wall clock, s) of the requests in an nginx log of the "bench" format
# ("$msec $request_time ..."): when the request's first byte was read.
request_starts() {
    awk '{ printf "%.3f\n", $1 - $2 }'
}

# CPU used by a process between two wall-clock times, from cpuwatch samples on standard input
# ("wall_s utime_ticks stime_ticks sched_ns" lines, "#" lines ignored). Prints "cpu_s user_s
# sys_s": cpu_s from the time on CPU interpolated at both ends; user and system from the clock
# ticks (TICKS per second, default 100) between the last sample at or before T0 and the first
# at or after T1.
cpu_between() {
    awk -v t0="$1" -v t1="$2" -v hz="${3:-100}" '
        /^#/ { next }
        { n++; w[n] = $1; u[n] = $2; s[n] = $3; ns[n] = $4 }
        function at(t,   i, f) {
            if (t <= w[1]) return ns[1]
            for (i = 2; i <= n; i++)
                if (w[i] >= t) {
                    f = (t - w[i - 1]) / (w[i] - w[i - 1])
                    return ns[i - 1] + f * (ns[i] - ns[i - 1])
                }
            return ns[n]
        }
        END {
            if (n < 2 || t0 < w[1] || t1 > w[n] || t1 < t0) {
                print "cpu_between: samples do not cover the interval" > "/dev/stderr"; exit 1
            }
            a = 1; for (i = 1; i <= n; i++) if (w[i] <= t0) a = i
            b = n; for (i = n; i >= 1; i--) if (w[i] >= t1) b = i
            printf "%.4f %.2f %.2f\n", (at(t1) - at(t0)) / 1e9, (u[b] - u[a]) / hz, (s[b] - s[a]) / hz
        }'
}

# Busy share of all CPUs between two /proc/stat "cpu" lines (given as arguments), percent.
busy_percent() {
    awk -v a="$1" -v b="$2" 'BEGIN {
        split(a, x, " "); split(b, y, " ")
        # user nice system idle iowait irq softirq steal (guest time is inside user already)
        for (i = 2; i <= 9; i++) { d = y[i] - x[i]; total += d; if (i == 5 || i == 6) idle += d }
        if (total <= 0) { print "n/a"; exit }
        printf "%.0f\n", 100 * (total - idle) / total }'
}

# The token bucket's depth for a shaped rate (Mbit/s): 4 ms of the rate, at least 32 kbit. A
# smaller bucket loses tokens whenever the kernel's timer comes late: at 20 Mbit/s a 32 kbit
# bucket read 16.5 to 19.1 Mbit/s, an 80 kbit one 19.09 to 19.17, and at 1000 Mbit/s 32 kbit
# gave 550 to 600.
tbf_burst() {
    awk -v r="$1" 'BEGIN { k = r * 4; if (k < 32) k = 32; printf "%dkbit\n", k }'
}

# The most a transfer of BYTES can read through a bucket of BURST kbit at RATE Mbit/s (bit/s):
# the bucket is full after a pause, so its payload leaves at once and the rest at the goodput.
shaped_limit_bps() {
    awk -v r="$1" -v b="$2" -v k="$3" 'BEGIN {
        g = r * 1e6 * 1448 / 1514
        head = k * 1000 / 8 * 1448 / 1514
        if (head >= b) { print "shaped_limit_bps: the bucket holds the whole transfer" > "/dev/stderr"; exit 1 }
        printf "%.1f\n", g * b / (b - head) }'
}

# The verdict on one shaped reading from its three ratios (Quillmet/curl, Quillmet/limit,
# curl/limit): within 2 % of curl's always, and within 3 % of the limit where curl comes
# within 3 % of it. Where curl falls short the path is the limit, not the program. Prints
# "holds", "holds, path short" or "fails".
shaped_verdict() {
    awk -v qc="$1" -v ql="$2" -v cl="$3" 'BEGIN {
        if (qc == "n/a" || ql == "n/a" || cl == "n/a") { print "fails"; exit }
        near_curl = qc >= 0.98 && qc <= 1.02
        short = cl < 0.97
        near_limit = ql >= 0.97 && ql <= 1.03
        if (!near_curl || (!short && !near_limit)) print "fails"
        else if (short) print "holds, path short"
        else print "holds" }'
}

# "run round bytes_per_s" for every round of quillmet-cli --json records on standard input.
round_speeds() {
    grep -o '"rounds":\[[^]]*\]' | awk '{
        run++
        n = split($0, parts, "\"bytes_per_s\":")
        for (i = 2; i <= n; i++) { v = parts[i]; sub(/[,}].*/, "", v); print run, i - 1, v }
    }'
}

# Per mail in a capture of `tcpdump -tt -nn -x 'tcp port 25'` (any snap length) on standard
# input: "wire_ms
# server_ms", where wire_ms runs from the first to the last packet of the body as the server
# saw them (after its 354 reply) and server_ms from that last packet to the server's 250.
# A tcpdump -tt -nn capture on the server's side of POSTs to PORT, in: per connection that
# carried at least MIN client bytes, "body_ms server_ms" in the order the replies came: from the
# client's first payload packet to its last, and from that to the server's first payload.
post_times() { # port min_bytes
    awk -v port="$1" -v min="$2" '
        /^[0-9]+\.[0-9]+ IP6? / {
            len = 0
            if (match($0, /length [0-9]+/)) len = substr($0, RSTART + 7, RLENGTH - 7) + 0
            if (len == 0) next
            src = $3; dst = $5; sub(/:$/, "", dst)
            if (dst ~ ("\\." port "$")) {
                if (!(src in first)) first[src] = $1
                last[src] = $1; sent[src] += len
            } else if (src ~ ("\\." port "$") && !(dst in answered) && sent[dst] >= min) {
                answered[dst] = 1
                printf "%.3f %.3f\n", (last[dst] - first[dst]) * 1000, ($1 - last[dst]) * 1000
            }
        }'
}

smtp_times() {
    awk '
        function nibble(c) { return index("0123456789abcdef", c) - 1 }
        function flush(   ip, tcp, payload, from_server) {
            if (t == "") return
            # The capture may be cut short: the payload starts after the IP and TCP headers.
            ip = nibble(substr(hex, 2, 1)) * 4
            tcp = nibble(substr(hex, (ip + 12) * 2 + 1, 1)) * 4
            payload = substr(hex, (ip + tcp) * 2 + 1)
            from_server = src ~ /\.25$/
            if (len > 0 && from_server && payload ~ /^333534/) { body = 1; first = ""; last = "" }
            else if (len > 0 && from_server && payload ~ /^323530/ && body && last != "") {
                printf "%.3f %.3f\n", (last - first) * 1000, (t - last) * 1000
                body = 0
            } else if (len > 0 && !from_server && body) {
                if (first == "") first = t
                last = t
            }
            t = ""
        }
        /^[0-9]+\.[0-9]+ IP / {
            flush()
            t = $1; src = $3; hex = ""; len = 0
            if (match($0, /length [0-9]+/)) len = substr($0, RSTART + 7, RLENGTH - 7) + 0
            next
        }
        /^[ \t]+0x[0-9a-f]+:/ { for (i = 2; i <= NF; i++) hex = hex $i }
        END { flush() }'
}
