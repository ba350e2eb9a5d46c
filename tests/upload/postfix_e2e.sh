#!/usr/bin/env bash
# End to end: one upload through the main window to this machine's postfix on
# 127.0.0.1:25, then the mail looked up in the local mailbox. Configures and starts
# postfix for the test and puts everything back afterwards. Needs root.
# Usage: postfix_e2e.sh <upload driver binary>
set -euo pipefail

driver=${1:?usage: postfix_e2e.sh <driver>}
user=root
address=$user@localhost
mailbox=/var/mail/$user
test_line='This is an upload speed test mail sent by Quillmet.'

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: configuring and starting postfix needs root (CI runs as root)"
    exit 77
fi
for tool in postfix postconf postqueue; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "FAIL: $tool not found; scripts/install-deps installs postfix" >&2
        exit 1
    fi
done
# True while something accepts connections on 127.0.0.1:25.
listening() {
    (exec 3<>/dev/tcp/127.0.0.1/25) 2>/dev/null
}

if postfix status >/dev/null 2>&1; then
    was_running=yes
else
    was_running=no
    if listening; then
        echo "FAIL: something other than postfix listens on 127.0.0.1:25" >&2
        exit 1
    fi
fi

work=$(mktemp -d /var/tmp/quillmet-e2e.XXXXXX)
chmod 755 "$work"
cp -p /etc/postfix/main.cf "$work/main.cf"
if [ -e "$mailbox" ]; then
    mailbox_size=$(stat -c %s "$mailbox")
else
    mailbox_size=-1
fi

restore() {
    set +e
    if [ "$was_running" = yes ]; then
        cp -p "$work/main.cf" /etc/postfix/main.cf
        postfix reload >/dev/null 2>&1
    else
        postfix stop >/dev/null 2>&1
        cp -p "$work/main.cf" /etc/postfix/main.cf
    fi
    if [ "$mailbox_size" -lt 0 ]; then
        rm -f "$mailbox"
    elif [ -e "$mailbox" ]; then
        truncate -s "$mailbox_size" "$mailbox"
    fi
    rm -rf "$work"
}
trap restore EXIT

diagnose() {
    echo "--- mail queue" >&2
    postqueue -p >&2 || true
    echo "--- mail log" >&2
    tail -n 40 "$work/maillog" >&2 2>/dev/null || true
}

# Local delivery only, on the IPv4 loopback; no alias database needed.
postconf -e \
    'inet_interfaces = loopback-only' \
    'inet_protocols = ipv4' \
    'mydestination = localhost, localhost.localdomain, $myhostname' \
    'alias_maps =' \
    'mailbox_size_limit = 0' \
    "maillog_file = $work/maillog"
if [ "$was_running" = yes ]; then
    postfix reload >/dev/null
else
    postfix start >/dev/null 2>&1 || { postfix start; exit 1; }
fi
for _ in $(seq 100); do
    listening && break
    sleep 0.2
done
if ! listening; then
    echo "FAIL: postfix does not listen on 127.0.0.1:25" >&2
    diagnose
    exit 1
fi

QM_E2E_ADDRESS=$address "$driver" || { diagnose; exit 1; }

# Delivery follows the 250 asynchronously.
start=$(( mailbox_size < 0 ? 0 : mailbox_size ))
lines=0
for _ in $(seq 150); do
    if [ -e "$mailbox" ]; then
        lines=$(tail -c +$((start + 1)) "$mailbox" | tr -d '\r' | grep -cx "$test_line" || true)
        [ "$lines" -ge 6000 ] && break
    fi
    sleep 0.2
done
if [ "$lines" -ne 6000 ]; then
    echo "FAIL: $mailbox holds $lines test lines of the new mail, not 6000" >&2
    diagnose
    exit 1
fi
new_mail=$(tail -c +$((start + 1)) "$mailbox")
if ! grep -q "^Mail from .* , 127\.0\.0\.1 , Port:[0-9]*$" <<<"$new_mail" ||
    ! grep -q "^Provider Host: .* , 127\.0\.0\.1 , Port:25$" <<<"$new_mail"; then
    echo "FAIL: the mail lacks its two leading lines" >&2
    head -n 30 <<<"$new_mail" >&2
    exit 1
fi
echo "PASS: the mail reached $mailbox with 6000 test lines"
