#!/usr/bin/env bash
# The Debian package: built with cpack, its fields and files listed and checked, lintian run
# on it, unpacked into a temporary root and its programs' libraries resolved there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/package/common.sh
source "$here/common.sh"
need cpack dpkg-deb dpkg-shlibdeps dpkg ldd file lintian

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

arch=$(dpkg --print-architecture)
cpack -G DEB --config "$QM_BINARY_DIR/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$scratch/cpack.log")"
deb=$scratch/out/quillmet_1.90_$arch.deb
[ -f "$deb" ] || fail "no $deb; cpack made: $(ls "$scratch/out")"
echo "== dpkg-deb -I"
dpkg-deb -I "$deb"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quillmet ] || fail "Package: $(field Package)"
[ "$(field Version)" = 1.90 ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Recommends)" = nginx-light ] || fail "Recommends: $(field Recommends)"
depends=$(field Depends)
# Ours by name; the libraries with the versions that dpkg-shlibdeps found in their symbols.
for dep in fonts-ipafont-gothic qt6-translations-l10n xdg-utils; do
    grep -qE "(^|, )$dep(,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6charts6 libc6 \
    libstdc\\+\\+6; do
    grep -qE "(^|, )$lib \(>= [0-9][^)]*\)" <<<"$depends" ||
        fail "Depends lacks a versioned $lib: $depends"
done

echo "== dpkg-deb -c"
dpkg-deb -c "$deb" | tee "$scratch/contents"
listed=$(awk '$1 !~ /^d/ {print $6}' "$scratch/contents" | sed 's|^\./usr/||' | sort)
diff -u <(expected_files) <(echo "$listed") >&2 || fail "packed files differ (- expected, + packed)"
awk '$2 != "root/root" {bad = 1; print "not root/root: " $0} END {exit bad}' "$scratch/contents" >&2 ||
    fail "files not owned by root"
awk '$1 ~ /^d/ && $1 != "drwxr-xr-x" {bad = 1; print $0} END {exit bad}' "$scratch/contents" >&2 ||
    fail "folders not mode 755"

# dpkg -x is what dpkg --install unpacks, without touching this system's package database.
dpkg -x "$deb" "$scratch/root"
usr=$scratch/root/usr
check_tree "$usr"
for exe in bin/quillmet libexec/quillmet/make-samples; do
    file -b "$usr/$exe" | grep -q ', stripped' || fail "$exe is not stripped"
    ldd "$usr/$exe" >"$scratch/ldd" || fail "ldd $exe: $(cat "$scratch/ldd")"
    ! grep -q 'not found' "$scratch/ldd" || fail "$exe: $(grep 'not found' "$scratch/ldd")"
    grep -q libQt6Core "$scratch/ldd" || fail "$exe does not load Qt: $(cat "$scratch/ldd")"
done
echo "ok: the unpacked programs find every library"

if [ -e "$usr/bin/quillmet-cli" ]; then
    version=$("$usr/bin/quillmet-cli" --version) || fail "quillmet-cli --version failed"
    grep -q '1\.90' <<<"$version" || fail "quillmet-cli --version: $version"
    echo "ok: quillmet-cli --version: $version"
fi

echo "== lintian"
# Exit 1 for an error-level tag, 2 when lintian itself broke; warnings are printed.
rc=0
lintian --fail-on error "$deb" >"$scratch/lintian" 2>&1 || rc=$?
cat "$scratch/lintian"
[ "$rc" = 0 ] || fail "lintian exit status $rc"
echo "deb: all checks passed"
