#!/usr/bin/env bash
# Installs a build into a temporary root and checks what a desktop installation needs: the
# programs, the status pictures, the menu entry and its icon, the documents, the station's unit. Then starts the
# installed program the way the menu entry does (offscreen, with a temporary home) and checks
# that it works in the user's own directory, and that started without the entry's option it
# keeps its working directory.
# Usage: checkinstall.sh BUILD_DIR PROGRAM...   (run by CTest as install_check)
set -euo pipefail
build=$1
shift
programs=("$@")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

root=$tmp/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$tmp/install.log" || { cat "$tmp/install.log" >&2; fail "cmake --install"; }

# Files.
for program in "${programs[@]}"; do
    [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program is not installed"
    [ -s "$root/usr/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
done
for picture in "$source_dir"/icon/*.png; do
    cmp -s "$picture" "$root/usr/share/vantorel/icon/${picture##*/}" || fail "status picture ${picture##*/} is not installed"
done
for shipped in vantorel-alerts.yml vantorel-dashboard.json; do
    [ -s "$root/usr/share/vantorel/$shipped" ] || fail "usr/share/vantorel/$shipped is missing"
done
for document in copyright changelog.gz; do
    [ -s "$root/usr/share/doc/vantorel/$document" ] || fail "usr/share/doc/vantorel/$document is missing"
done

# The station's unit: installed where systemd looks, never enabled, its program installed.
unit=$(find "$root" -path '*/systemd/system/vantorel-station.service' | head -n1)
[ -n "$unit" ] || fail "vantorel-station.service is not installed"
[ -z "$(find "$root" -path '*.wants/*')" ] || fail "the package enables a unit"
exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
[ -x "$root$exec_start" ] || fail "the station's unit starts $exec_start, which is not installed"
grep -qx 'SupplementaryGroups=dialout' "$unit" && grep -qx 'DynamicUser=yes' "$unit" || fail "the station's unit does not run as a dynamic user in dialout"

# The menu entry: valid, its icon installed, its command an installed program, .tsv files offered.
entry=$root/usr/share/applications/vantorel.desktop
[ -f "$entry" ] || fail "no desktop entry"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
icon=$(sed -n 's/^Icon=//p' "$entry")
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" 2>/dev/null || fail "icon $icon is not installed in hicolor"
grep -q '^MimeType=.*text/tab-separated-values;' "$entry" || fail "the entry does not offer to open .tsv files"
[ -f "$root/usr/share/metainfo/org.vantorel.VanTorel.metainfo.xml" ] || fail "no metainfo"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
read -r -a menu_command <<<"${exec_line//%f/}"
[ -x "$root/usr/bin/${menu_command[0]}" ] || fail "the entry starts ${menu_command[0]}, which is not installed"
menu_command[0]=$root/usr/bin/${menu_command[0]}

# Starting: DIRECTORY MESSAGE COMMAND... runs COMMAND in DIRECTORY until it has said what it found
# of config.ini at start-up, then stops it; that must be MESSAGE.
export QT_QPA_PLATFORM=offscreen
export XDG_DATA_DIRS=$tmp/no-system-data   # only the installation under test provides pictures
unset VANTOREL_EXTRA_PORTS
runs=0
start_until() {
    local directory=$1 message=$2
    shift 2
    runs=$((runs + 1))
    local log=$tmp/run$runs.log
    mkdir -p "$directory"
    (cd "$directory" && exec "$@") >"$log" 2>&1 &
    pid=$!
    for _ in $(seq 300); do
        grep -qF -e "$no_settings" -e "$port_setting" "$log" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
    grep -qF "$message" "$log" || { cat "$log" >&2; fail "start $runs ($*) did not say \"$message\""; }
}
no_settings="No value on the configuration file"
port_setting="port not open"   # config.ini was read: it names a port that does not exist

# From the menu, first start: the user's directory is made and gets the pictures.
user=$tmp/config/vantorel
start_until "$tmp/start" "$no_settings" env XDG_CONFIG_HOME="$tmp/config" HOME="$tmp/home" "${menu_command[@]}"
for picture in "$root"/usr/share/vantorel/icon/*.png; do
    cmp -s "$picture" "$user/icon/${picture##*/}" || fail "${picture##*/} was not copied into $user/icon"
done
[ ! -e "$tmp/start/icon" ] || fail "the pictures went into the working directory"
grep -qxF "DIR=$tmp/home" "$user/config.ini" 2>/dev/null || fail "export files are not proposed in the home directory"

# Next start: config.ini is read from there; a picture of the user's own is kept, a missing one comes back.
printf '[COM]\nCOM_PORT=%s\n' "$tmp/no-such-port" >"$user/config.ini"
echo mine >"$user/icon/signal.png"
rm "$user/icon/nosignal.png"
start_until "$tmp/start" "$port_setting" env XDG_CONFIG_HOME="$tmp/config" HOME="$tmp/home" "${menu_command[@]}"
[ "$(cat "$user/icon/signal.png")" = mine ] || fail "a picture of the user's own was replaced"
[ -s "$user/icon/nosignal.png" ] || fail "a missing picture was not copied again"

# Without XDG_CONFIG_HOME the directory is ~/.config/vantorel.
start_until "$tmp/home2" "$no_settings" env -u XDG_CONFIG_HOME HOME="$tmp/home2" "${menu_command[@]}"
[ -s "$tmp/home2/.config/vantorel/icon/signal.png" ] || fail "HOME/.config/vantorel was not used without XDG_CONFIG_HOME"

# From a shell, without the option: config.ini of the working directory, no user directory.
printf '[COM]\nCOM_PORT=%s\n' "$tmp/no-such-port" >"$tmp/config.ini"
start_until "$tmp" "$port_setting" env XDG_CONFIG_HOME="$tmp/config-shell" HOME="$tmp/home" "$root/usr/bin/vantorel"
[ ! -e "$tmp/config-shell/vantorel" ] || fail "started from a shell, the program made the user directory"
echo "install check passed: ${programs[*]}"
