#!/usr/bin/env bash
# Checks what an installation of カエナミ consists of: installs a built tree into a temporary
# prefix and validates its desktop entry, KDE service menu and metainfo, compares its file list,
# starts the installed program without a display, then builds the Debian package and lists it.
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
share/kio/servicemenus/$id.desktop
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
desktop_entry=$prefix/share/applications/$id.desktop
takes_files_not_folders() {
    grep -qx 'Exec=kaenami %F' "$desktop_entry" &&
        grep -q '^MimeType=.*image/jpeg;' "$desktop_entry" &&
        ! grep -q '^MimeType=.*inode/' "$desktop_entry"
}
check "the desktop entry opens files and claims pictures, never folders" takes_files_not_folders

# desktop-file-validate knows application entries only: the service menu is checked as one for
# what both share (groups, keys, strings, MIME types, actions and their Exec field codes), then
# for the keys KDE's file managers read.
service_menu=$prefix/share/kio/servicemenus/$id.desktop
service_menu_syntax() {
    local copy=$work/servicemenu-as-application.desktop
    sed -e 's/^Type=Service$/Type=Application/' -e '/^X-KDE-/d' \
        -e 's/^\[Desktop Entry\]$/[Desktop Entry]\nName=kaenami\nExec=kaenami %F/' \
        "$service_menu" >"$copy"
    desktop-file-validate "$copy"
}
check "the service menu's entries are valid" service_menu_syntax
# Every line as "group<TAB>key<TAB>value".
service_menu_lines() {
    awk '/^\[.*\]$/ { group = substr($0, 2, length($0) - 2); next }
         /^[^#].*=/ { i = index($0, "="); print group "\t" substr($0, 1, i - 1) "\t" substr($0, i + 1) }' \
        "$service_menu"
}
service_menu_value() { # group, key
    service_menu_lines | awk -F '\t' -v g="$1" -v k="$2" '$1 == g && $2 == k { print $3 }'
}
service_menu_for_kde() {
    local main="Desktop Entry" actions action name
    [ "$(service_menu_value "$main" Type)" = Service ] &&
        [ "$(service_menu_value "$main" X-KDE-ServiceTypes)" = KonqPopupMenu/Plugin ] &&
        [ "$(service_menu_value "$main" MimeType)" = "inode/directory;application/octet-stream;" ] ||
        { echo "not a service menu for folders and files"; return 1; }
    actions=$(service_menu_value "$main" Actions | tr ';' ' ')
    [ -n "$actions" ] || { echo "no actions"; return 1; }
    for action in $actions; do
        name=$(service_menu_value "Desktop Action $action" Name)
        # Japanese: the label carries characters beyond ASCII.
        LC_ALL=C grep -q '[^ -~]' <<<"$name" || { echo "$action: no Japanese label"; return 1; }
        [ "$(service_menu_value "Desktop Action $action" Exec)" = "kaenami %F" ] ||
            { echo "$action: does not open the selection"; return 1; }
        [ -f "$prefix/share/icons/hicolor/scalable/apps/$(service_menu_value "Desktop Action $action" Icon).svg" ] ||
            { echo "$action: its icon is not installed"; return 1; }
        echo "$action: $name"
    done
}
check "the service menu offers カエナミ on folders and files, labelled in Japanese" \
    service_menu_for_kde
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

renames_without_a_display() {
    mkdir -p "$work/photos" "$work/numbered"
    printf a >"$work/photos/b.jpg"
    printf b >"$work/photos/a.jpg"
    no_display XDG_CONFIG_HOME="$work/batch-config" XDG_DATA_HOME="$work/batch-data" \
        "$prefix/bin/kaenami" --rename --base p --to "$work/numbered" "$work/photos/"*.jpg &&
        [ "$(cat "$work/numbered/p0001.jpg" "$work/numbered/p0002.jpg")" = ba ] &&
        [ -f "$work/batch-config/kaenami/.kaenami-undo" ] &&
        no_display XDG_CONFIG_HOME="$work/batch-config" "$prefix/bin/kaenami" --undo </dev/null &&
        [ -z "$(ls -A "$work/numbered")" ]
}
check "the installed program renames and undoes without a display" renames_without_a_display

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
