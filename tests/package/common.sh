# Shared by the package tests: what an installed Quillmet consists of.
# shellcheck shell=bash
export LC_ALL=C.UTF-8
: "${QM_SOURCE_DIR:?}" "${QM_BINARY_DIR:?}"

app_id=io.github.quillmet.Quillmet
skip=77

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

need() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is missing (scripts/install-deps installs it)"
            exit "$skip"
        fi
    done
}

# The command-line program comes with its page; once its page is in the tree, both must be
# installed.
cli_expected() {
    [ -f "$QM_SOURCE_DIR/docs/man1/quillmet-cli.1" ]
}

# Every file below /usr, one a line, sorted.
expected_files() {
    {
        cat <<LIST
bin/quillmet
bin/quillmet-sample-host
bin/quillmet-server
lib/systemd/system/quillmet-server.service
libexec/quillmet/make-samples
libexec/quillmet/quillmet-sink
libexec/quillmet/sample-host
libexec/quillmet/server
share/applications/$app_id.desktop
share/doc/quillmet/README.md
share/doc/quillmet/changelog.gz
share/doc/quillmet/copyright
share/icons/hicolor/16x16/apps/$app_id.png
share/icons/hicolor/256x256/apps/$app_id.png
share/icons/hicolor/32x32/apps/$app_id.png
share/icons/hicolor/48x48/apps/$app_id.png
share/icons/hicolor/scalable/apps/$app_id.svg
share/man/man1/quillmet-sample-host.1.gz
share/man/man1/quillmet-server.1.gz
share/man/man1/quillmet.1.gz
share/metainfo/$app_id.metainfo.xml
share/quillmet/sample-host/nginx.conf.in
share/quillmet/server/nginx.conf.in
share/quillmet/screenshots/main-window.png
LIST
        if cli_expected; then
            echo bin/quillmet-cli
            echo share/man/man1/quillmet-cli.1.gz
            echo share/man/ja/man1/quillmet-cli.1.gz
        fi
    } | sort
}

# Checks the installed tree under $1 (the /usr folder): the file list, the bitmaps' sizes, the
# menu entry and the AppStream data against each other, the pages.
check_tree() {
    local usr=$1 actual
    actual=$(cd "$usr" && find . -type f -o -type l | sed 's|^\./||' | sort)
    diff -u <(expected_files) <(echo "$actual") >&2 || fail "installed files differ (- expected, + installed)"

    local f
    for f in bin/quillmet bin/quillmet-sample-host bin/quillmet-server libexec/quillmet/make-samples \
        libexec/quillmet/quillmet-sink libexec/quillmet/sample-host libexec/quillmet/server; do
        [ "$(stat -c %a "$usr/$f")" = 755 ] || fail "$f is not mode 755"
    done
    while read -r f; do
        case $f in bin/* | libexec/*) continue ;; esac
        [ "$(stat -c %a "$usr/$f")" = 644 ] || fail "$f is not mode 644"
    done < <(expected_files)

    local size
    for size in 16 32 48 256; do
        file -b "$usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png" |
            grep -q "^PNG image data, $size x $size, 8-bit/color RGBA" ||
            fail "the ${size} px icon is not a ${size} x ${size} RGBA PNG"
    done

    local desktop=$usr/share/applications/$app_id.desktop
    local metainfo=$usr/share/metainfo/$app_id.metainfo.xml
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"

    # The entry names what is installed: the program, the icon, the window's class.
    key() { sed -n "s/^$1=//p" "$desktop"; }
    [ "$(key Exec)" = quillmet ] || fail "Exec=$(key Exec)"
    [ "$(key Icon)" = "$app_id" ] || fail "Icon=$(key Icon)"
    [ "$(key StartupWMClass)" = Quillmet ] || fail "StartupWMClass=$(key StartupWMClass)"
    [ "$(key Categories)" = "Network;Monitor;Qt;" ] || fail "Categories=$(key Categories)"
    key 'Name\[ja\]' | grep -q . || fail "no Name[ja]"
    key 'Comment\[ja\]' | grep -q . || fail "no Comment[ja]"
    grep -qF "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
        fail "the metainfo does not launch $app_id.desktop"
    grep -qF "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
    grep -q '<description xml:lang="ja">\|<p xml:lang="ja">' "$metainfo" ||
        fail "no Japanese description"
    grep -q '<release version="1.90"' "$metainfo" || fail "no release 1.90"
    if cli_expected; then
        grep -qF '<binary>quillmet-cli</binary>' "$metainfo" ||
            fail "the metainfo does not provide quillmet-cli"
    fi

    check_pages "$usr/share/man"
}

# Renders a page as man does in locale $1 (more options may follow); the warnings to stderr.
render() {
    local locale=$1
    shift
    env -u LANG -u LANGUAGE LC_ALL="$locale" MANWIDTH=80 man --warnings "$@" 2>&1 >/dev/null
}

# The English pages read the same in every locale: plain ASCII, no warning under C or
# C.UTF-8, a NAME with words in it. A Japanese page has its English twin and renders without
# a warning on a UTF-8 terminal, whatever the locale.
check_pages() {
    local man=$1 page name out locale
    for page in "$man"/man1/*.1.gz; do
        ! zcat "$page" | LC_ALL=C grep -qP '[^\x00-\x7f]' || fail "$page is not plain ASCII"
        for locale in C C.UTF-8; do
            out=$(render "$locale" -l "$page") || fail "man $page failed under $locale"
            [ -z "$out" ] || fail "man $page warns under LC_ALL=$locale: $out"
        done
        name=$(env -u LANG LC_ALL=C MANWIDTH=80 man -l "$page" 2>/dev/null |
            sed -n '/^NAME/{n;p;q}' | sed 's/^ *//')
        # "quillmet-cli - Quillmet" was all a C locale kept of a Japanese NAME.
        [ "$(wc -w <<<"${name#* - }")" -ge 3 ] || fail "$page: NAME reads '$name' under LC_ALL=C"
    done
    for page in "$man"/ja/man1/*.1.gz; do
        [ -f "$man/man1/${page##*/}" ] || fail "$page has no English page in man1"
        out=$(render C.UTF-8 -l "$page") || fail "man $page failed"
        [ -z "$out" ] || fail "man $page warns under LC_ALL=C.UTF-8: $out"
        out=$(render C -Tutf8 -l "$page") || fail "man -Tutf8 $page failed"
        [ -z "$out" ] || fail "man -Tutf8 $page warns under LC_ALL=C: $out"
        env -u LANG LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null |
            sed -n '/^NAME/{n;p;q}' | LC_ALL=C grep -qP '[^\x00-\x7f]' ||
            fail "$page: its NAME is not Japanese"
    done
    # What a C locale finds for a page name is the English page.
    if [ -f "$man/man1/quillmet-cli.1.gz" ]; then
        env -u LANG -u LANGUAGE LC_ALL=C MANWIDTH=80 man -M "$man" quillmet-cli 2>/dev/null |
            grep -qE '^ *quillmet-cli +- +measure' || fail "man quillmet-cli under LC_ALL=C is not the English page"
    fi
}
