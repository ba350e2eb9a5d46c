#!/usr/bin/env bash
# The arithmetic behind bench/run's table, on figures worked out by hand.
set -uo pipefail
source "${QM_SOURCE_DIR:?}/bench/figures.sh"

passed=0
failed=0
check() { # name expected actual
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $1: expected '$2', got '$3'"
    fi
}
fails() { # name command...
    local name=$1
    shift
    if "$@" >/dev/null 2>&1; then
        failed=$((failed + 1))
        echo "FAIL: $name: succeeded"
    else
        passed=$((passed + 1))
    fi
}

# The fastest and the slowest go, in any order: the mean of 200, 300 and 400.
check "mid3 drops both ends" 300.000000 "$(printf '%s\n' 400 10000 100 300 200 | mid3_mean)"
check "mid3 of equal values" 7.500000 "$(printf '%s\n' 7.5 7.5 7.5 7.5 7.5 | mid3_mean)"
check "mid3 compares numbers, not text" 20.000000 "$(printf '%s\n' 9 10 20 30 100 | mid3_mean)"
fails "mid3 of four values" bash -c 'source "$QM_SOURCE_DIR/bench/figures.sh"; printf "1\n2\n3\n4\n" | mid3_mean'

check "median of an odd count" "3.000000 1.000000 50.000000" "$(printf '%s\n' 50 1 3 2 4 | median_range)"
check "median of an even count" "2.500000 1.000000 4.000000" "$(printf '%s\n' 4 1 3 2 | median_range)"
check "median of big numbers" "1500000000.000000 1000000000.000000 2000000000.000000" \
    "$(printf '%s\n' 2e9 1e9 1.5e9 | median_range)"
fails "median of nothing" bash -c 'source "$QM_SOURCE_DIR/bench/figures.sh"; : | median_range'
check "mean" 2.500000 "$(printf '%s\n' 1 2 3 4 | mean)"

# 20 Mbit/s x 1448/1514.
check "goodput at 20 Mbit/s" 19128137.4 "$(goodput_bps 20)"
check "goodput at 1 Mbit/s" 956406.9 "$(goodput_bps 1)"

check "ratio" 1.0200 "$(ratio 102 100 4)"
check "ratio of a zero" n/a "$(ratio 5 0)"
check "ratio of nothing" n/a "$(ratio "" 5)"

line='10.200.0.1:8080,2026-12-08(火) 01:57:00,3,msec,4194304,byte,18686.9,kbps,18.249,Mbps'
check "bits per second of a history line" 19135385.6 "$(history_bps "$line")"
check "no mark" "" "$(history_mark "$line")"
check "mark 1" "*" "$(history_mark "*$line")"
check "mark 2" "**" "$(history_mark "**$line")"
fails "a line that is not a history line" history_bps "host,date,3,msec"

check "request starts" $'1000.250\n1003.000' \
    "$(printf '%s\n' '1000.750 0.500 200 4194304 "-" "GET /qm/x.jpg HTTP/1.0"' \
        '1005.000 2.000 200 4194304 "-" "GET /qm/x.jpg HTTP/1.0"' | request_starts)"

# Samples 10 ms apart; time on CPU grows 2 ms per sample, ticks every other sample.
samples='# wall_s utime_ticks stime_ticks sched_ns
100.00 10 5 1000000000
100.01 10 5 1002000000
100.02 11 5 1004000000
100.03 11 5 1006000000
100.04 12 6 1008000000'
# 100.005 lies halfway between the first two samples, 100.035 between the last two.
check "cpu between two times" "0.0060 0.02 0.01" "$(cpu_between 100.005 100.035 <<<"$samples")"
check "cpu over the whole sampling" "0.0080 0.02 0.01" "$(cpu_between 100.00 100.04 <<<"$samples")"
fails "cpu before the first sample" bash -c "source \"\$QM_SOURCE_DIR/bench/figures.sh\"; cpu_between 99 100.02 <<<'$samples'"
fails "cpu after the last sample" bash -c "source \"\$QM_SOURCE_DIR/bench/figures.sh\"; cpu_between 100.01 101 <<<'$samples'"

check "machine busy" 25 "$(busy_percent 'cpu 100 0 100 600 200 0 0 0 0 0' 'cpu 150 0 150 800 300 0 0 0 0 0')"

check "bucket at 1 Mbit/s is at least 32 kbit" 32kbit "$(tbf_burst 1)"
check "bucket at 20 Mbit/s holds 4 ms" 80kbit "$(tbf_burst 20)"
check "bucket at 2500 Mbit/s holds 4 ms" 10000kbit "$(tbf_burst 2500)"
# 512,000 bytes at 1 Mbit/s, 4,000 bytes of bucket (3,825.6 of payload) ahead:
# 956,406.87 x 512,000 / 508,174.37.
check "limit with the bucket's head start" 963606.9 "$(shaped_limit_bps 1 512000 32)"
check "a bucket of nothing changes nothing" 19128137.4 "$(shaped_limit_bps 20 4194304 0)"
fails "a bucket larger than the transfer" shaped_limit_bps 2500 1000000 10000

check "near curl and the limit" holds "$(shaped_verdict 1.0150 0.9750 0.9810)"
check "curl short: judged against curl alone" "holds, path short" "$(shaped_verdict 1.0100 0.9500 0.9400)"
check "far from curl" fails "$(shaped_verdict 1.0300 1.0000 0.9700)"
check "curl reaches the limit, Quillmet does not" fails "$(shaped_verdict 0.9850 0.9650 0.9800)"
check "over the limit" fails "$(shaped_verdict 1.0100 1.0400 1.0300)"
check "a missing ratio" fails "$(shaped_verdict n/a 1.0 1.0)"

record='{"bytes":4194304,"kind":"download","rounds":[{"bytes_per_s":901419299.377,"kbps":7042338.3},{"bytes_per_s":12.5,"kbps":0.1}],"url":"http://x/"}'
check "round speeds of two records" $'1 1 901419299.377\n1 2 12.5\n2 1 901419299.377\n2 2 12.5' \
    "$(printf '%s\n%s\n' "$record" "$record" | round_speeds)"

# A server's 354, two body packets 10 ms apart, its 250 4 ms after the last (IP and TCP
# headers of 20 + 32 bytes before each payload, as tcpdump -x prints them).
capture='1000.000000 IP 10.200.0.1.25 > 10.200.0.2.40000: Flags [P.], seq 1:7, ack 1, win 1, length 6
	0x0000:  4500 003a 0000 4000 4006 0000 0ac8 0001
	0x0010:  0ac8 0002 0019 9c40 0000 0001 0000 0001
	0x0020:  8018 01f5 0000 0000 0101 080a 0000 0001
	0x0030:  0000 0001 3335 3420 6f6b
1000.001000 IP 10.200.0.2.40000 > 10.200.0.1.25: Flags [P.], seq 1:3, ack 7, win 1, length 2
	0x0000:  4500 0036 0000 4000 4006 0000 0ac8 0002
	0x0010:  0ac8 0001 9c40 0019 0000 0001 0000 0007
	0x0020:  8018 01f5 0000 0000 0101 080a 0000 0001
	0x0030:  0000 0001 4142
1000.011000 IP 10.200.0.2.40000 > 10.200.0.1.25: Flags [P.], seq 3:5, ack 7, win 1, length 2
	0x0000:  4500 0036 0000 4000 4006 0000 0ac8 0002
	0x0010:  0ac8 0001 9c40 0019 0000 0003 0000 0007
	0x0020:  8018 01f5 0000 0000 0101 080a 0000 0001
	0x0030:  0000 0001 2e0a
1000.011500 IP 10.200.0.1.25 > 10.200.0.2.40000: Flags [.], ack 5, win 1, length 0
	0x0000:  4500 0034 0000 4000 4006 0000 0ac8 0001
	0x0010:  0ac8 0002 0019 9c40 0000 0007 0000 0005
	0x0020:  8010 01f5 0000 0000 0101 080a 0000 0001
	0x0030:  0000 0001
1000.015000 IP 10.200.0.1.25 > 10.200.0.2.40000: Flags [P.], seq 7:13, ack 5, win 1, length 6: SMTP: 250 ok
	0x0000:  4500 003a 0000 4000 4006 0000 0ac8 0001
	0x0010:  0ac8 0002 0019 9c40 0000 0007 0000 0005
	0x0020:  8018 01f5 0000 0000 0101 080a 0000 0001
	0x0030:  0000 0001 3235 3020 6f6b'
check "body and server times of one mail" "10.000 4.000" "$(smtp_times <<<"$capture")"
check "no mail in a capture" "" "$(printf '%s\n' '1000.0 IP 10.200.0.1.25 > 10.200.0.2.4: Flags [.], length 0' | smtp_times)"
# Cut at the snap length: the payload's start is all there is.
cut="$(sed 's/^\(\t0x0030:  0000 0001\) 4142$/\1 41/' <<<"$capture")"
check "a capture cut short" "10.000 4.000" "$(smtp_times <<<"$cut")"

# Two connections to port 80: a small descriptor GET (under the 10-byte minimum) and a POST whose
# body came in three packets; the reply 2.5 ms after the last. Pure ACKs do not count.
posts='2000.000000 IP 10.200.0.2.41000 > 10.200.0.1.80: Flags [P.], seq 1:5, ack 1, length 4
2000.001000 IP 10.200.0.1.80 > 10.200.0.2.41000: Flags [P.], seq 1:3, ack 5, length 2
2000.100000 IP 10.200.0.2.42000 > 10.200.0.1.80: Flags [P.], seq 1:9, ack 1, length 8
2000.105000 IP 10.200.0.1.80 > 10.200.0.2.42000: Flags [.], ack 9, length 0
2000.110000 IP 10.200.0.2.42000 > 10.200.0.1.80: Flags [.], seq 9:17, ack 1, length 8
2000.120000 IP 10.200.0.2.42000 > 10.200.0.1.80: Flags [P.], seq 17:25, ack 1, length 8
2000.122500 IP 10.200.0.1.80 > 10.200.0.2.42000: Flags [P.], seq 1:40, ack 25, length 39
2000.130000 IP 10.200.0.1.80 > 10.200.0.2.42000: Flags [P.], seq 40:50, ack 25, length 10'
check "a POST's body and server times" "20.000 2.500" "$(post_times 80 10 <<<"$posts")"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
