#!/usr/bin/env bash
# Checks what an installation of カエナミ consists of: installs a built tree into a temporary
# prefix and validates its desktop entry and metainfo, compares its file list, starts the
# installed program without a display, then builds the Debian package and lists it.
# Usage: tools/check-install.sh [build folder]   (default: build, as test.sh makes it)
source "$(dirname "$0")/common.sh"
install_missing desktop-file-utils appstream dpkg-dev file

build_dir=${1:-build}
id=io.github.kaenami.Kaenami
expected="bin/kaenami
share/applications/$id.desktop
share/icons/hicolor/128x128/apps/$id.png
share/icons/hicolor/16x16/apps/$id.png
share/icons/hicolor/256x256/apps/$id.png
share/icons/hicolor/32x32/apps/$id.png
share/icons/hicolor/48x48/apps/$id.png
share/icons/hicolor/64x64/apps/$id.png
share/icons/hicolor/scalable/apps/$id.svg
share/kaenami/Readme.txt
share/metainfo/$id.metainfo.xml"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
passes=0
failures=0
check() { # name, command...
    local name=$1
    shift
    if "$@"; then
        echo "PASS   : $name"
        passes=$((passes + 1))
    else
        echo "FAIL!  : $name"
        failures=$((failures + 1))
    fi
}

cmake --build "$build_dir"
cmake --install "$build_dir" --prefix "$prefix" >/dev/null

check "the install tree holds exactly the expected files" \
    diff -u <(echo "$expected") <(cd "$prefix" && find . -type f -printf '%P\n' | LC_ALL=C sort)
check "the desktop entry is valid" desktop-file-validate "$prefix/share/applications/$id.desktop"
check "the metainfo is valid" appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"
check "metainfo, desktop entry and icons agree" appstreamcli validate-tree --no-net "$prefix"
png_sizes() {
    for size in 16 32 48 64 128 256; do
        file -b "$prefix/share/icons/hicolor/${size}x$size/apps/$id.png" |
            grep -q "PNG image data, $size x $size," || { echo "wrong: ${size}px"; return 1; }
    done
}
check "every PNG icon has its size" png_sizes

no_display() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work/home" "$@"; }
version_only() { no_display "$prefix/bin/kaenami" --version | grep -q " 1.1.6$"; }
check "--version answers without a display" version_only

# The installed program keeps its files in the configuration folder, never beside itself.
starts_installed() {
    mkdir -p "$work/home"
    QT_QPA_PLATFORM=offscreen HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
        "$prefix/bin/kaenami" &
    local pid=$! waited=0
    while [ ! -d "$work/config/kaenami" ] && [ $waited -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null || true
    [ "$(stat -c %a "$work/config/kaenami")" = 700 ] &&
        [ "$(ls -A "$prefix/bin")" = kaenami ]
}
check "the installed program's folder is ~/.config/kaenami (0700)" starts_installed

(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$build_dir/kaenami_1.1.6_$(dpkg --print-architecture).deb
check "the package is built" test -f "$deb"
check "the package holds the install tree under /usr" \
    diff -u <(echo "$expected" | sed 's|^|usr/|') \
    <(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ {print $6}' | sed 's|^\./||' | LC_ALL=C sort)
depends_on_qt() {
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    [[ $depends == *libqt6widgets6* && $depends == *qt6-qpa-plugins* && $depends == *libc6* &&
       $depends == *qt6-translations-l10n* ]]
}
check "the package depends on the libraries it links (dpkg-shlibdeps) and Qt's translations" \
    depends_on_qt
check "the package recommends the image plugins and a Japanese font" \
    bash -c '[ "$(dpkg-deb -f "$0" Recommends)" = "qt6-image-formats-plugins, fonts-noto-cjk" ]' "$deb"
dpkg-deb -c "$deb"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
