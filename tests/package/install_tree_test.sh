#!/usr/bin/env bash
# cmake --install into a DESTDIR: the whole tree checked, then the installed sample host
# started from it, fetched from and stopped.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/package/common.sh
source "$here/common.sh"
# shellcheck source=tests/support/free_port.sh
source "$here/../support/free_port.sh"
need cmake desktop-file-validate appstreamcli man file nginx

scratch=$(mktemp -d)
host=
cleanup() {
    [ -n "$host" ] && "$host" stop >/dev/null 2>&1
    rm -rf "$scratch"
}
trap cleanup EXIT

DESTDIR=$scratch/root cmake --install "$QM_BINARY_DIR" --prefix /usr --strip >"$scratch/install.log" ||
    fail "cmake --install: $(cat "$scratch/install.log")"
usr=$scratch/root/usr
check_tree "$usr"
echo "ok: the tree, the entry, the metainfo and the pages"

# Nothing of the build folder leaks into what is installed.
! grep -rlF "$QM_BINARY_DIR" "$usr/bin" "$usr/libexec" "$usr/share" ||
    fail "installed files name the build folder"

# The installed sample host, with nothing but its own files and a fresh cache.
host=$usr/bin/quillmet-sample-host
export XDG_CACHE_HOME=$scratch/cache
unset QM_SAMPLE_HOST_DIR QM_SAMPLE_TOOL QM_SAMPLE_TEMPLATE QM_SAMPLE_SCREENSHOTS QM_BUILD_DIR
start_on_free_port "$host"
echo "$out"
home=$XDG_CACHE_HOME/quillmet/sample-host
[ -f "$home/www/qm/qm15M.jpg" ] || fail "the samples are not in $home/www"
grep -qF "$usr/share/quillmet/sample-host/nginx.conf.in" "$home/nginx.conf" ||
    fail "nginx.conf was not written from the installed template"

# The user's cache holds what the sample host offers users, nothing kept for the tests: every
# file written there is the home page, its completion stamp, or linked from the home page.
while read -r f; do
    case $f in index.html | .complete) continue ;; esac
    grep -qF "href=\"/${f%index.html}\"" "$home/www/index.html" ||
        fail "$home/www/$f is in the user's cache but not offered on the home page"
done < <(cd "$home/www" && find . -type f | sed 's|^\./||')
echo "ok: the cache holds $(du -sh "$home/www" | cut -f1) of user-facing files"

# GET over a bare socket; prints the status line and Content-Length, the body to $2.
fetch() {
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf 'GET %s HTTP/1.0\r\nHost: localhost:%s\r\n\r\n' "$1" "$port" >&3
    timeout 30 cat <&3 >"$scratch/reply"
    exec 3<&-
    local header
    header=$(sed '/^\r$/q' "$scratch/reply")
    tail -c +"$(($(printf '%s\n' "$header" | wc -c) + 1))" "$scratch/reply" >"$2"
    head -1 <<<"$header" | tr -d '\r'
}
status=$(fetch /qm/qm100K.jpg "$scratch/body")
[[ $status == *" 200 "* ]] || fail "/qm/qm100K.jpg: $status"
[ "$(stat -c %s "$scratch/body")" = 102400 ] || fail "/qm/qm100K.jpg is not 102,400 bytes"
status=$(fetch /screenshots/main-window.png "$scratch/body")
[[ $status == *" 200 "* ]] || fail "/screenshots/main-window.png: $status"
cmp -s "$scratch/body" "$usr/share/quillmet/screenshots/main-window.png" ||
    fail "the served screenshot is not the installed one"
echo "ok: the installed sample host serves the samples and the screenshot on port $port"

"$host" status >/dev/null || fail "status says not running"
"$host" stop >/dev/null || fail "stop failed"
host=
echo "install tree: all checks passed"
