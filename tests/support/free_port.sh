# Sourced by the shell tests: start a sample host on a free port.
# shellcheck shell=bash

# start_on_free_port HOST: runs "HOST start" with QM_SAMPLE_PORT on a random high port, another
# if that one is taken (another test or program may hold any fixed one). Sets and exports
# QM_SAMPLE_PORT, sets port and out (what the start printed); calls fail unless it started.
start_on_free_port() {
    local host=$1 candidate
    port=
    for _ in 1 2 3 4 5; do
        candidate=$((20000 + RANDOM % 20000))
        if out=$(QM_SAMPLE_PORT=$candidate "$host" start 2>&1); then
            port=$candidate
            export QM_SAMPLE_PORT=$port
            return 0
        fi
        grep -q "Address already in use" <<<"$out" || fail "start: $out"
    done
    fail "no free port found"
}
