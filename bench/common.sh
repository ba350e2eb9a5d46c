# shellcheck shell=bash disable=SC2154
# Shell helpers of bench/run and bench/rtt, sourced by both after bench/figures.sh. They use the
# sourcing script's settings: build (the build folder), bin ($build/bench), www (the sample
# files), work and data (the work folder and its raw figures), in_cli (a command prefix that
# runs in the client's namespace) and tracked (the pids its clean-up ends).

say() { echo "bench: $*" >&2; }
die() {
    echo "bench: $*" >&2
    exit 1
}

# build_targets TARGET...: configures with the bench helpers on and builds the targets; the
# build's output is shown only when it fails.
build_targets() {
    local build_log
    build_log=$(mktemp /tmp/quillmet-bench-build.XXXXXX)
    # The helpers are built only when asked for, so the configure step always turns them on.
    if ! cmake -S "$repo" -B "$build" -DQUILLMET_BENCH=ON >"$build_log" 2>&1 ||
        ! cmake --build "$build" -j2 --target "$@" >>"$build_log" 2>&1; then
        cat "$build_log" >&2
        rm -f "$build_log"
        die "the build failed"
    fi
    rm -f "$build_log"
}

# wait_for_quiet SECONDS LOAD: waits at most SECONDS for the 1-minute load to fall below LOAD.
load1() { cut -d' ' -f1 /proc/loadavg; }
wait_for_quiet() {
    local waited=0
    while [ "$waited" -lt "$1" ] && awk -v l="$(load1)" -v q="$2" 'BEGIN { exit !(l > q) }'; do
        [ "$waited" -eq 0 ] && say "waiting (at most ${1} s) for the load $(load1) to fall below $2"
        sleep 10
        waited=$((waited + 10))
    done
}

# True while the process runs (a zombie does not).
alive() {
    local state
    state=$(sed -E 's/^[0-9]+ \(.*\) ([A-Za-z]).*/\1/' "/proc/$1/stat" 2>/dev/null) || return 1
    [ "$state" != Z ]
}

# Ends one of our processes: SIGTERM, then SIGKILL after 15 s.
stop_pid() {
    local pid=$1
    if alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 150); do
            alive "$pid" || break
            sleep 0.1
        done
        if alive "$pid"; then
            say "pid $pid did not end in 15 s; killed"
            kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    wait "$pid" 2>/dev/null || true
}

track() { tracked+=("$1"); }

# /proc/stat's first line and the load, to tell how busy the machine was.
section_marks=()
section_begin() {
    say "$1"
    section_name=$1
    section_load=$(cut -d' ' -f1-3 /proc/loadavg)
    section_stat=$(head -1 /proc/stat)
}
section_end() {
    section_marks+=("| $section_name | $section_load | $(cut -d' ' -f1-3 /proc/loadavg) | $(busy_percent "$section_stat" "$(head -1 /proc/stat)") |")
}

# The sample files in $www, written once: the sample host's files plus a 25 MiB one.
make_samples() {
    if [ ! -f "$www/.complete" ] || [ "$build/tools/make-samples" -nt "$www/.complete" ] ||
        [ "$bin/make-jpeg" -nt "$www/.complete" ]; then
        say "writing the sample files into $www"
        rm -rf "$www"
        "$build/tools/make-samples" "$www" >/dev/null
        # The largest file a run accepts is 26,300,000 bytes: 25 MiB lasts over 1 s at 200 Mbit/s,
        # 0.22 s at 1000 and 0.09 s at 2500.
        "$bin/make-jpeg" "$www/qm/qm25M.jpg" 26214400
        : >"$www/.complete"
    fi
}
file_size() { stat -c %s "$www/qm/$1"; }

# shape NS DEV RATE [BURST [LATENCY]]: a token bucket on the device's egress; RATE in Mbit/s or
# with tc's unit ("95000000bit"), BURST by default 4 ms of a rate in Mbit/s, LATENCY by default
# 50ms; RATE 0 removes it.
shape() {
    if [ "$3" = 0 ]; then
        tc -n "$1" qdisc del dev "$2" root 2>/dev/null || true
    else
        local rate=$3
        [[ $rate =~ ^[0-9]+$ ]] && rate=${rate}mbit
        tc -n "$1" qdisc replace dev "$2" root tbf rate "$rate" burst "${4:-$(tbf_burst "$3")}" \
            latency "${5:-50ms}"
    fi
}

# listening NS ADDR PORT: true while something accepts connections there.
listening() {
    nsenter --net="/run/netns/$1" -- bash -c "exec 3<>/dev/tcp/$2/$3" 2>/dev/null
}

# curl_five NAME URL [PAUSE [FAIL]]: five downloads by curl in the client namespace, PAUSE s
# apart (default 1). One line per download in $data/NAME.curl: speed (bytes/s), bytes, total
# time (s), user and system CPU (s). With FAIL "ok", HTTP errors count as done.
curl_five() {
    local name=$1 url=$2 pause=${3:-1} fail=-f
    [ "${4:-}" = ok ] && fail=
    "${in_cli[@]}" bash -c '
        set -e
        TIMEFORMAT="%3U %3S"
        for i in 1 2 3 4 5; do
            [ "$i" -eq 1 ] || sleep "$3"
            { time curl -s $4 --max-time 120 -o /dev/null \
                -w "%{speed_download} %{size_download} %{time_total}" "$1" >"$2.w"; } 2>"$2.t"
            echo "$(cat "$2.w") $(cat "$2.t")"
        done' curl_five "$url" "$work/curl-$name" "$pause" "$fail" >"$data/$name.curl"
}

# http_upload_readings: "bits_per_s bytes" of each quillmet-cli --upload-http --json record on
# standard input: the reading (kbps of 2^10 bit) and its later rounds' body length.
http_upload_readings() {
    sed -E 's/.*"kbps":([0-9.]+).*"rounds":\[[^]]*"bytes":([0-9]+)[^]]*\].*/\1 \2/' |
        awk '{ printf "%.1f %d\n", $1 * 1024, $2 }'
}

# curl_posts NAME BODY URL: curl posts the file BODY to the sink at URL five times, 2.5 s apart
# as the rounds are, from the client's namespace; each timed from its first body byte
# (time_pretransfer) to the reply (time_total), as the program times a round. The raw lines
# go to $data/NAME.txt; prints the middle three's mean, bits/s.
curl_posts() {
    "${in_cli[@]}" bash -c '
        set -e
        for i in 1 2 3 4 5; do
            [ "$i" -eq 1 ] || sleep 2.5
            curl -s -f --max-time 300 -o /dev/null -H "Expect:" --data-binary "@$1" \
                -H "Content-Type: application/octet-stream" \
                -w "%{size_upload} %{time_pretransfer} %{time_total}\n" "$2"
        done' curl_post "$2" "$3" >"$data/$1.txt" || return 1
    awk '{ printf "%.1f\n", $1 * 8 / ($3 - $2) }' "$data/$1.txt" | sort -n | sed -n 2,4p | mean
}
