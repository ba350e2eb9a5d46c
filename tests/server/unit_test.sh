#!/usr/bin/env bash
# The system unit: systemd-analyze verify passes and rates its exposure 2.5 or lower. The
# unit's ExecStart names the installed program, so it is checked pointing at the script.
set -euo pipefail
: "${QM_SOURCE_DIR:?}"
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is missing"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unit=$scratch/quillmet-server.service
sed "s|^ExecStart=/usr/bin/quillmet-server|ExecStart=$QM_SOURCE_DIR/scripts/quillmet-server|" \
    "$QM_SOURCE_DIR/packaging/quillmet-server.service" >"$unit"
systemd-analyze verify --man=no "$unit"
figure=$(systemd-analyze security --offline=yes "$unit" | sed -nE 's/.*exposure level for .*: ([0-9.]+) .*/\1/p')
echo "exposure $figure"
awk -v f="$figure" 'BEGIN { exit !(f != "" && f <= 2.5) }' || { echo "FAIL: exposure '$figure'"; exit 1; }
