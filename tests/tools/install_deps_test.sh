#!/usr/bin/env bash
# scripts/install-deps leaves the system's services as it found them: what it installs (nginx,
# postfix) neither listens on port 80 or 25 afterwards nor is enabled at boot, and a
# policy-rc.d of the system's own is left alone.
# It can only check that while something is missing: on a machine that has every package it
# skips, and says why (ctest -V shows it; the summary counts it as not run).
set -euo pipefail
: "${QM_SOURCE_DIR:?}"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing packages needs root; ports 80 and 25 and the boot services were not checked"
    exit 77
fi

# Ports in LISTEN state (0A) on ports 80 (0050) and 25 (0019), from the kernel's tables.
listeners() {
    cat /proc/net/tcp /proc/net/tcp6 2>/dev/null |
        awk '$4 == "0A" { split($2, a, ":"); if (a[2] == "0050" || a[2] == "0019") print $2 }' |
        sort -u
}
policy_state() {
    if [ -e /usr/sbin/policy-rc.d ]; then sha256sum /usr/sbin/policy-rc.d; else echo none; fi
}

ports_before=$(listeners)
policy_before=$(policy_state)
first=$(bash "$QM_SOURCE_DIR/scripts/install-deps" 2>&1)
second=$(bash "$QM_SOURCE_DIR/scripts/install-deps" 2>&1)

if ! grep -q "^install-deps: installing" <<<"$first$second"; then
    echo "SKIP: every package of scripts/install-deps is installed already, so nothing was" \
        "installed and there was nothing to check (it checks a machine that lacks some)"
    exit 77
fi
if grep -q "^install-deps: installing" <<<"$second"; then
    echo "FAIL: the second run still found packages missing:" >&2
    echo "$second" >&2
    exit 1
fi

fail=0
if [ "$(listeners)" != "$ports_before" ]; then
    echo "FAIL: something new listens on port 80 or 25 after install-deps" >&2
    fail=1
fi
if [ "$(policy_state)" != "$policy_before" ]; then
    echo "FAIL: /usr/sbin/policy-rc.d is not as it was" >&2
    fail=1
fi
for unit in nginx postfix; do
    if [ -e "/etc/systemd/system/multi-user.target.wants/$unit.service" ] &&
        grep -q "Setting up $unit" <<<"$first"; then
        echo "FAIL: $unit, installed just now, is enabled at boot" >&2
        fail=1
    fi
done
[ "$fail" = 0 ] && echo "install-deps left ports 80 and 25 and the boot services as they were"
exit "$fail"
