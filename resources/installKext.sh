#!/bin/sh
# Installs the driver bundle and (re)starts its host.
#
#   installKext.sh SOURCE_BUNDLE BUNDLE_NAME NORMAL|RELOAD
#
# NORMAL copies the bundle into <root>/Library/Extensions and starts the host; RELOAD stops the
# running host, replaces the bundle and starts the new one. Either way the script returns only
# once the new host answers on its socket, and exits non-zero on any failure; a bundle that
# could not be put in place, or whose host does not answer, or an install that is interrupted,
# leaves the previous one installed. The system root is HVB_ROOT ("/" when unset). Run as root
# on another root, every folder from "/" down to the extensions folder must be root's and
# writable by no one else. Where systemd runs and the root is "/", the host runs as a unit that
# also starts at boot.
set -u
umask 022
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH

program=installKext.sh
say() { printf '%s: %s\n' "$program" "$*"; }
fail() {
    printf '%s: %s\n' "$program" "$*" >&2
    exit 1
}

[ "$#" -eq 3 ] || fail "usage: $program SOURCE_BUNDLE BUNDLE_NAME NORMAL|RELOAD"
source_bundle=$1
bundle_name=$2
mode=$3

case "$mode" in
    NORMAL | RELOAD) ;;
    *) fail "the mode is NORMAL or RELOAD, not \"$mode\"" ;;
esac
# The name goes into a unit file and the process table: letters, digits, ".", "_" and "-" only.
case "$bundle_name" in
    .* | *[!A-Za-z0-9._-]*) fail "bad bundle name \"$bundle_name\"" ;;
    ?*.kext) ;;
    *) fail "bad bundle name \"$bundle_name\"" ;;
esac
executable_name=${bundle_name%.kext}

root=${HVB_ROOT:-/}
case "$root" in
    /*) ;;
    *) fail "HVB_ROOT must be an absolute path, not \"$root\"" ;;
esac
while [ "${root%/}" != "$root" ]; do root=${root%/}; done  # "/" becomes "", so "$root/x" is "/x"
root_argument=${root:-/}

[ -d "$source_bundle" ] || fail "no bundle at \"$source_bundle\""
[ -f "$source_bundle/Contents/Info.plist" ] || fail "\"$source_bundle\" has no Contents/Info.plist"
[ -x "$source_bundle/Contents/MacOS/$executable_name" ] ||
    fail "\"$source_bundle\" has no executable Contents/MacOS/$executable_name"

extensions=$root/Library/Extensions
installed=$extensions/$bundle_name
run_dir=$root/run/halvetor
pid_file=$run_dir/$executable_name.pid
unit_name=$executable_name.service
unit_file=/etc/systemd/system/$unit_name
staging_dir=
previous_dir=
staging=
previous=

use_systemd=no
if [ -z "$root" ] && [ -d /run/systemd/system ] && command -v systemctl >/dev/null 2>&1; then
    use_systemd=yes
fi

# Where the install stands, for the exit trap: "aside" once the installed bundle has been moved
# aside, "placed" once the new one is in its place, "done" once its host answers.
stage=start

host_answers() {  # host_answers EXECUTABLE
    "$1" --root "$root_argument" --ping >/dev/null 2>&1
}

wait_for_answer() {  # wait_for_answer EXECUTABLE: up to 20 s
    tries=0
    while [ "$tries" -lt 200 ]; do
        host_answers "$1" && return 0
        sleep 0.1
        tries=$((tries + 1))
    done
    return 1
}

# A process that has ended but is not reaped yet (a zombie) counts as gone.
process_alive() {
    [ -r "/proc/$1/stat" ] || return 1
    state=$(sed -n 's/.*) \(.\).*/\1/p' "/proc/$1/stat" 2>/dev/null)
    case "$state" in
        '' | Z | X) return 1 ;;
    esac
    return 0
}

# The host recorded in the pid file, when that process is still our host.
running_host_pid() {
    [ -f "$pid_file" ] || return 1
    pid=$(head -c 32 -- "$pid_file" 2>/dev/null | tr -d '\n')
    case "$pid" in
        '' | *[!0-9]*) return 1 ;;
    esac
    [ -r "/proc/$pid/cmdline" ] || return 1
    command_path=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -n 1)
    case "$command_path" in
        "$executable_name" | */"$executable_name") printf '%s\n' "$pid" ;;
        *) return 1 ;;
    esac
}

stop_host() {
    if [ "$use_systemd" = yes ] && [ -f "$unit_file" ]; then
        systemctl stop "$unit_name" >/dev/null 2>&1 || true
    fi
    pid=$(running_host_pid) || pid=
    if [ -n "$pid" ]; then
        kill -TERM "$pid" 2>/dev/null || true
        tries=0
        while process_alive "$pid" && [ "$tries" -lt 100 ]; do
            sleep 0.1
            tries=$((tries + 1))
        done
        if process_alive "$pid"; then
            kill -KILL "$pid" 2>/dev/null || true
            sleep 0.2
        fi
        process_alive "$pid" && return 1
    fi
    # A host this script cannot stop must not be left to answer in the new one's place.
    if [ -x "$installed/Contents/MacOS/$executable_name" ] &&
        host_answers "$installed/Contents/MacOS/$executable_name"; then
        return 1
    fi
    return 0
}

# A folder a privileged run may write below: a real folder (not a link) of root's that no one
# else may write to. A shared folder with the sticky bit (/tmp) may lead to it, since its
# entries stay their owners'.
secure_folder() {  # secure_folder PATH SHARED_OK(yes|no)
    [ ! -L "$1" ] && [ -d "$1" ] || return 1
    facts=$(stat -c '%u %a' -- "$1" 2>/dev/null) || return 1
    permissions=$((0${facts#* }))
    [ "${facts%% *}" = 0 ] || return 1
    [ $((permissions & 18)) -eq 0 ] && return 0        # 022: no write for group and others
    [ "$2" = yes ] && [ $((permissions & 512)) -ne 0 ]  # 01000: sticky
}

# Every folder from "/" down to PATH; the first unsafe one is left in $unsafe.
secure_tree() {  # secure_tree PATH LAST_SHARED_OK(yes|no)
    unsafe=/
    secure_folder / yes || return 1
    rest=${1#/}
    current=
    while [ -n "$rest" ]; do
        part=${rest%%/*}
        case "$rest" in
            */*) rest=${rest#*/} ;;
            *) rest= ;;
        esac
        [ -n "$part" ] || continue
        current=$current/$part
        unsafe=$current
        shared_ok=yes
        [ -z "$rest" ] && shared_ok=$2
        secure_folder "$current" "$shared_ok" || return 1
    done
    return 0
}

start_host() {  # start_host BUNDLE
    executable=$1/Contents/MacOS/$executable_name
    if [ "$use_systemd" = yes ]; then
        {
            printf '[Unit]\nDescription=Camera pass-through driver host (%s)\n' "$bundle_name"
            printf '[Service]\nType=simple\nExecStart=%s --root /\nRestart=on-failure\n' "$executable"
            printf '[Install]\nWantedBy=multi-user.target\n'
        } >"$unit_file" || return 1
        systemctl daemon-reload && systemctl enable "$unit_name" >/dev/null 2>&1 &&
            systemctl restart "$unit_name" || return 1
    else
        "$executable" --root "$root_argument" --daemon || return 1
    fi
    wait_for_answer "$executable"
}

# Back to the previous bundle and its host after a failure or an interruption. Says the previous
# bundle is back only when its host answers again; a new bundle whose host still runs stays.
restore_previous() {  # restore_previous REASON
    if [ -e "$installed" ] && [ "$stage" = placed ]; then
        if ! stop_host; then
            printf '%s: %s; its host does not stop, so it stays installed\n' "$program" "$1" >&2
            return 1
        fi
        rm -rf -- "$installed"
    fi
    if [ -n "$previous" ] && [ -e "$previous" ] && [ ! -e "$installed" ]; then
        if mv -- "$previous" "$installed" && start_host "$installed" >/dev/null 2>&1; then
            printf '%s: %s; the previous bundle is back\n' "$program" "$1" >&2
        else
            printf '%s: %s; the previous bundle is in place but its host does not answer\n' "$program" "$1" >&2
        fi
        return 1
    fi
    printf '%s: %s\n' "$program" "$1" >&2
    return 1
}

on_exit() {
    status=$?
    trap - EXIT
    trap '' HUP INT TERM  # the way back is not interrupted in its turn
    case "$stage" in
        aside | placed) restore_previous "the install was interrupted" ;;
    esac
    [ -n "$staging_dir" ] && rm -rf -- "$staging_dir"
    if [ -n "$previous_dir" ] && [ ! -e "$previous" ]; then rm -rf -- "$previous_dir"; fi
    exit "$status"
}
trap on_exit EXIT
trap 'exit 1' HUP INT TERM

if [ -n "$root" ] && [ "$(id -u)" = 0 ]; then
    secure_tree "$root" yes || fail "refusing to install as root into \"$root\": \"$unsafe\" is a link, not root's, or writable by others"
fi
mkdir -p -- "$extensions" || fail "cannot create \"$extensions\""
if [ -n "$root" ] && [ "$(id -u)" = 0 ]; then
    secure_tree "$extensions" no || fail "refusing to install as root into \"$extensions\": \"$unsafe\" is a link, not root's, or writable by others"
fi
# Unpredictable names inside the extensions folder, made by mktemp.
staging_dir=$(mktemp -d -- "$extensions/.$bundle_name.new.XXXXXXXX") || fail "cannot create a staging folder"
staging=$staging_dir/$bundle_name
if ! cp -R -- "$source_bundle" "$staging"; then
    fail "could not copy \"$source_bundle\"; the installed bundle is unchanged"
fi
if [ ! -x "$staging/Contents/MacOS/$executable_name" ] || [ ! -f "$staging/Contents/Info.plist" ]; then
    fail "the copy of \"$source_bundle\" is incomplete; the installed bundle is unchanged"
fi

# On the real system the host admits root and the group "halvetor"; the desktop user who asked
# for the installation (pkexec names them) joins it, and is admitted from the next connection.
if [ -z "$root" ]; then
    if ! getent group halvetor >/dev/null 2>&1; then
        groupadd --system halvetor >/dev/null 2>&1 || say "could not create the group halvetor"
    fi
    case "${PKEXEC_UID:-}" in
        '' | 0 | *[!0-9]*) ;;
        *)
            user=$(getent passwd "$PKEXEC_UID" | cut -d: -f1)
            if [ -n "$user" ]; then
                usermod -a -G halvetor -- "$user" >/dev/null 2>&1 ||
                    say "could not add $user to the group halvetor"
            fi
            ;;
    esac
fi

stop_host || fail "the running driver host does not stop; the installed bundle is unchanged"

if [ -e "$installed" ]; then
    previous_dir=$(mktemp -d -- "$extensions/.$bundle_name.old.XXXXXXXX") || fail "cannot create a folder for the installed bundle"
    previous=$previous_dir/$bundle_name
    mv -- "$installed" "$previous" || fail "cannot move the installed bundle aside"
    stage=aside
fi
# restore_previous also tells why; `failed` keeps the exit trap from doing it again.
if ! mv -- "$staging" "$installed"; then
    restore_previous "cannot put the new bundle in place"
    stage=failed
    exit 1
fi
stage=placed

if ! start_host "$installed"; then
    restore_previous "the new driver host did not answer"
    stage=failed
    exit 1
fi
stage=done
rm -rf -- "$previous_dir"
say "$mode: $installed installed, its host answers"
exit 0
