#!/bin/sh
# Installs the driver bundle and (re)starts its host, starts the installed one's host, or removes it.
#
#   installKext.sh [--root ROOT] SOURCE_BUNDLE BUNDLE_NAME NORMAL|RELOAD|START|REMOVE
#
# The bundle goes into /usr/local/lib/HalvetorBody_ToolBox/Extensions on the real system (root
# "/") and into <root>/Library/Extensions in any other root.
# NORMAL copies the bundle there and starts the host; RELOAD stops the running host, replaces the
# bundle and starts the new one. Either way the script returns only once the new host answers on
# its socket, and exits non-zero on any failure; a bundle that could not be put in place, or whose
# host does not answer, or an install interrupted before the new host answered, leaves the
# previous one installed with its host answering; once the new host answers, an interruption
# keeps it. What a killed install left is repaired by the next run.
# START starts the installed bundle's host when none answers (SOURCE_BUNDLE is not read; "-" will
# do). REMOVE stops the host, removes its systemd unit, the installed bundle, what interrupted
# installs left and the folders and lock this script made; nothing installed is no failure.
# Runs into one root go one at a time, on a lock file only the script's user may open. The
# system root is ROOT, else HVB_ROOT ("/" when unset); a root whose real path is "/" is "/".
# Run as root, the root itself, and every folder from "/" down to the extensions and run folders
# and to <root>/var, must be root's and writable by no one else, before anything is made there;
# below the root no folder is shared, not even with the sticky bit. The host's log folder is made
# by the host in <root>/var/log, which its group may write to (Ubuntu's does), never everyone.
# Run as root, in any root, root takes no program from its caller: BUNDLE_NAME must be the
# driver's own name, and the bundle (every file and folder in it) and the folders holding it
# must be root's and writable by no one else. On the real system ("/") root takes nothing from
# its caller but the mode: the bundle installed is the one beside this script, and the script and
# the folders holding it must be root's and writable by no one else: a per-user install cannot
# install the driver.
# Run through pkexec (PKEXEC_UID set), the root is the real system's: --root and HVB_ROOT are
# refused, and this entry point takes NORMAL and RELOAD only; START and REMOVE come through
# manageKext.sh beside it.
# No bundle holding a link or anything but folders and regular files is installed.
# Where systemd runs and the root is "/", the host runs as a unit that also starts at boot, with
# only what it needs of the system (`systemd-analyze security` rates it).
# Nothing the caller holds steers the work: it runs detached, in a session of its own with no
# terminal, its input /dev/null and, run as root, a service's resource limits (which the host it
# starts keeps). What it says goes to files no one else can open, handed on to the caller, stdout
# and stderr apart, once the work has ended and let the lock go: a caller that never reads stalls
# only itself. An interrupt the caller sends (HUP, INT, TERM, QUIT) interrupts the work as TERM
# does; the terminal's stop signals do nothing. The caller gets the work's exit status, or its
# end by a signal.
set -u
umask 022
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH

if [ "${HVB_INSTALL_DETACHED:-}" != yes ]; then
    if [ "$(id -u)" = 0 ]; then
        # What systemd gives a service: the kernel's defaults for init, 1024 open files (524288
        # at most), 8 MiB locked, no core file unless raised. A hard limit this root may not
        # raise (no CAP_SYS_RESOURCE) caps the soft one.
        service_limit() {  # service_limit LIMIT SOFT HARD
            prlimit --pid $$ --"$1=$2:$3" 2>/dev/null && return 0
            hard=$(prlimit --pid $$ --noheadings --output HARD --"$1") || return 1
            soft=$2
            if [ "$hard" != unlimited ] && { [ "$soft" = unlimited ] || [ "$soft" -gt "$hard" ]; }; then soft=$hard; fi
            prlimit --pid $$ --"$1=$soft:"
        }
        tasks=$(($(cat /proc/sys/kernel/threads-max 2>/dev/null || echo 63000) / 2))
        for limit in as:unlimited:unlimited core:0:unlimited cpu:unlimited:unlimited data:unlimited:unlimited \
            fsize:unlimited:unlimited locks:unlimited:unlimited memlock:8388608:8388608 msgqueue:819200:819200 \
            nice:0:0 nofile:1024:524288 nproc:$tasks:$tasks rss:unlimited:unlimited rtprio:0:0 \
            rttime:unlimited:unlimited sigpending:$tasks:$tasks stack:8388608:unlimited; do
            hard=${limit##*:}
            limit=${limit%:*}
            service_limit "${limit%%:*}" "${limit#*:}" "$hard" ||
                { printf 'installKext.sh: cannot give the driver host a service'"'"'s %s limit\n' "${limit%%:*}" >&2; exit 1; }
        done
    fi
    # Made by mktemp in root's /run, or in a sticky shared folder, so that no one else can open or
    # replace them, and unlinked once open.
    relay_file() {
        for folder in /run /tmp /var/tmp; do
            mktemp "$folder/.installKext.XXXXXXXX" 2>/dev/null && return 0
        done
        printf 'installKext.sh: cannot create a file for its messages\n' >&2
        return 1
    }
    relay_out=$(relay_file) || exit 1
    relay_err=$(relay_file) || { rm -f -- "$relay_out"; exit 1; }
    command exec 3>"$relay_out" 4<"$relay_out" 5>"$relay_err" 6<"$relay_err" || { rm -f -- "$relay_out" "$relay_err"; exit 1; }
    rm -f -- "$relay_out" "$relay_err"
    worker=
    trap '[ -n "$worker" ] && kill -s TERM "$worker" 2>/dev/null' HUP INT TERM QUIT
    trap '' TSTP TTIN TTOU
    # env gives back the default actions a background job starts without (INT and QUIT); an env
    # too old for that leaves them ignored, and the work is still interrupted through TERM.
    defaults=--default-signal
    env --default-signal true 2>/dev/null || defaults=
    HVB_INSTALL_DETACHED=yes setsid -w env $defaults /bin/sh -- "$0" "$@" \
        </dev/null >&3 2>&5 3>&- 4<&- 5>&- 6<&- 7<&- 8<&- 9<&- &
    worker=$!
    exec 3>&- 5>&-
    while :; do
        wait "$worker"
        status=$?
        # Above 128: a trap ended the wait, or a signal ended the work.
        [ "$status" -le 128 ] || ! kill -0 "$worker" 2>/dev/null && break
    done
    cat <&4
    cat <&6 >&2
    if [ "$status" -gt 128 ]; then
        trap - HUP INT TERM QUIT
        kill -"$((status - 128))" $$
    fi
    exit "$status"
fi
unset HVB_INSTALL_DETACHED

program=installKext.sh
say() { printf '%s: %s\n' "$program" "$*"; }
# The exit trap tells why.
fail() {
    reason=$*
    exit 1
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

# Every folder from "/" down to PATH is a secure folder, none shared from STRICT (a folder on the
# way, or PATH) down. Every folder there is is checked; with "make" each missing one is made
# (root's, 0755) and checked as made, one at a time, so that no one else can put one in its
# place. The first unsafe one is left in $unsafe.
secure_walk() {  # secure_walk PATH STRICT [make]
    strict=${2%/}
    current=
    rest=${1#/}
    while :; do
        unsafe=${current:-/}
        shared_ok=yes
        [ -z "$rest" ] && shared_ok=no
        case "$current" in
            "$strict" | "$strict"/*) shared_ok=no ;;
        esac
        if [ ! -e "$unsafe" ] && [ ! -L "$unsafe" ]; then
            if [ "${3:-}" = make ]; then
                mkdir -m 755 -- "$unsafe" 2>/dev/null || return 1
                secure_folder "$unsafe" no || return 1
            fi
        else
            secure_folder "$unsafe" "$shared_ok" || return 1
        fi
        [ -n "$rest" ] || return 0
        part=${rest%%/*}
        case "$rest" in
            */*) rest=${rest#*/} ;;
            *) rest= ;;
        esac
        [ -n "$part" ] && current=$current/$part
    done
}

# Where root writes: nothing shared from the root down.
secure_tree() {  # secure_tree PATH [make]
    secure_walk "$1" "$root_argument" "${2:-}"
}

# Where root reads a program from: PATH itself no shared folder.
secure_source() {  # secure_source PATH
    secure_walk "$1" "$1"
}

# The folder the host's log folder is made in: missing, or a real folder of root's that others
# (not its group) may not write to. Otherwise it is left in $unsafe.
log_parent_safe() {  # log_parent_safe PATH
    unsafe=$1
    [ -e "$1" ] || [ -L "$1" ] || return 0
    [ ! -L "$1" ] && [ -d "$1" ] || return 1
    facts=$(stat -c '%u %a' -- "$1" 2>/dev/null) || return 1
    permissions=$((0${facts#* }))
    [ "${facts%% *}" = 0 ] && [ $((permissions & 2)) -eq 0 ]
}

# Where the install stands, for the exit trap: "start" until the running host is asked to stop,
# "stopping" from then on, "done" once the new host answers ("removed" for REMOVE). What has
# moved where is read from the folder itself, since a signal may land between a command and the
# note after it.
stage=start
reason=
had_previous=no
staging_dir=
previous_dir=
staging=
previous=
installed=
test_signal=

# The bundle in place is the new one when the old one is aside, or when there was none and the
# copy has left the staging folder.
new_bundle_in_place() {
    [ -e "$installed" ] || return 1
    [ -n "$previous" ] && [ -e "$previous" ] && return 0
    [ "$had_previous" = no ] && [ -n "$staging" ] && [ ! -e "$staging" ]
}

# Back to the bundle installed before, with its host answering.
roll_back() {  # roll_back REASON
    new_in_place=no
    new_bundle_in_place && new_in_place=yes
    # Whichever host runs now, or is still on its way down, ends first.
    if ! stop_host; then
        if [ "$new_in_place" = yes ]; then
            printf '%s: %s; its host does not stop, so it stays installed\n' "$program" "$1" >&2
        else
            printf '%s: %s; the driver host does not stop\n' "$program" "$1" >&2
        fi
        return 1
    fi
    [ "$new_in_place" = yes ] && rm -rf -- "$installed"
    if [ -n "$previous" ] && [ -e "$previous" ] && [ ! -e "$installed" ]; then
        if ! mv -- "$previous" "$installed"; then
            printf '%s: %s; the previous bundle could not be put back (the next install does)\n' "$program" "$1" >&2
            return 1
        fi
    fi
    if [ "$had_previous" = no ] || [ ! -e "$installed" ]; then
        printf '%s: %s\n' "$program" "$1" >&2
        return 1
    fi
    if start_host "$installed" >/dev/null 2>&1; then
        printf '%s: %s; the previous bundle is back\n' "$program" "$1" >&2
    else
        printf '%s: %s; the previous bundle is in place but its host does not answer\n' "$program" "$1" >&2
    fi
    return 1
}

on_exit() {
    status=$?
    trap - EXIT
    # The way back runs to its end. A trap that does nothing, unlike an ignored signal, leaves
    # the programs started meanwhile (a host) their default actions.
    trap : HUP INT TERM QUIT TSTP TTIN TTOU
    test_signal=
    # Interrupted once the new host answers (between its answer and the note of it): the
    # install has succeeded and stands.
    if [ "$stage" = stopping ] && new_bundle_in_place &&
        host_answers "$installed/Contents/MacOS/$executable_name"; then
        stage=done
    fi
    case "$stage" in
        done)
            # The new host answers: the install stands, whatever came after.
            status=0
            if [ "$mode" = START ]; then
                say "$mode: the host of $installed answers"
            else
                say "$mode: $installed installed, its host answers"
            fi
            ;;
        removed)
            status=0
            say "$mode: the driver is removed from $extensions"
            ;;
        stopping) roll_back "${reason:-the install failed}" ;;
        *) [ -n "$reason" ] && printf '%s: %s\n' "$program" "$reason" >&2 ;;
    esac
    [ -n "$staging_dir" ] && rm -rf -- "$staging_dir"
    if [ -n "$previous_dir" ] && { [ "$stage" = done ] || [ ! -e "$previous" ]; }; then rm -rf -- "$previous_dir"; fi
    exit "$status"
}
trap on_exit EXIT
trap 'reason="the install was interrupted"; exit 1' HUP INT TERM QUIT
trap : TSTP TTIN TTOU

# pkexec clears the environment and names the user who asked: run that way, the root is the
# real system's, whatever the caller says.
through_pkexec=no
[ -n "${PKEXEC_UID+set}" ] && through_pkexec=yes
if [ "$through_pkexec" = yes ]; then
    [ -z "${HVB_ROOT+set}" ] || fail "run through pkexec, the driver is installed on this system only: HVB_ROOT is refused"
    [ "${1:-}" != --root ] || fail "run through pkexec, the driver is installed on this system only: --root is refused"
fi
root=${HVB_ROOT:-/}
if [ "$#" -ge 2 ] && [ "$1" = --root ]; then
    root=$2
    shift 2
fi
[ "$#" -eq 3 ] || fail "usage: $program [--root ROOT] SOURCE_BUNDLE BUNDLE_NAME NORMAL|RELOAD|START|REMOVE"
source_bundle=$1
bundle_name=$2
mode=$3

case "$mode" in
    NORMAL | RELOAD | START | REMOVE) ;;
    *) fail "the mode is NORMAL, RELOAD, START or REMOVE, not \"$mode\"" ;;
esac
# manageKext.sh names itself; pkexec lets no caller set that.
if [ "$through_pkexec" = yes ] && [ "${HVB_DRIVER_ENTRY:-}" != manageKext.sh ]; then
    case "$mode" in
        START | REMOVE) fail "run through pkexec, $program installs only (NORMAL or RELOAD); $mode is manageKext.sh's" ;;
    esac
fi
# The name goes into a unit file and the process table: letters, digits, ".", "_" and "-" only.
case "$bundle_name" in
    .* | *[!A-Za-z0-9._-]*) fail "bad bundle name \"$bundle_name\"" ;;
    ?*.kext) ;;
    *) fail "bad bundle name \"$bundle_name\"" ;;
esac
executable_name=${bundle_name%.kext}
driver_bundle=com_brevantis_driver_HVBSCSIDriver.kext
guarded=no
[ "$(id -u)" = 0 ] && guarded=yes

case "$root" in
    /*) ;;
    *) fail "the root must be an absolute path, not \"$root\"" ;;
esac
# The host takes a root whose real path is "/" for the real system, and so does this script. Root
# goes by the real path of any root: once its folders are found safe, no one else can change
# where it leads.
real_root=$(readlink -m -- "$root") || fail "cannot tell where the root \"$root\" leads"
if [ "$real_root" = / ]; then
    root=/
elif [ "$guarded" = yes ]; then
    root=$real_root
fi
while [ "${root%/}" != "$root" ]; do root=${root%/}; done  # "/" becomes "", so "$root/x" is "/x"
root_argument=${root:-/}

# The first entry of the tree at PATH (PATH itself included) that is anything but a folder or a
# regular file, or, with OWNER, that is not OWNER's or that group or others may write; empty
# when there is none. Links are reported, never followed. False when the tree cannot be read.
odd_entry() {  # odd_entry PATH [OWNER]
    if [ -n "${2:-}" ]; then
        find "$1" \( \( ! -type d ! -type f \) -o ! -user "$2" -o -perm /022 \) -print -quit 2>/dev/null
    else
        find "$1" ! -type d ! -type f -print -quit 2>/dev/null
    fi
}

if [ -z "$root" ] || [ "$guarded" = yes ]; then
    [ "$bundle_name" = "$driver_bundle" ] ||
        fail "the driver's bundle is \"$driver_bundle\", not \"$bundle_name\""
fi

# On the real system this script, and the folders holding it, are root's alone: what lies
# beside it (the bundle, manageKext.sh) is what root runs.
not_system_wide="only an install for everyone (root's, writable by no one else) can install the driver"
if [ -z "$root" ]; then
    script_path=$(readlink -f -- "$0") || script_path=
    [ -n "$script_path" ] || fail "cannot tell where this script is"
    script_dir=${script_path%/*}
    secure_source "${script_dir:-/}" ||
        fail "refusing to run from \"$script_dir\": \"$unsafe\" is a link, not root's, or writable by others; $not_system_wide"
    odd=$(odd_entry "$script_path" 0) && [ -z "$odd" ] ||
        fail "refusing to run \"$script_path\": it is not root's or others may write it; $not_system_wide"
fi

if [ "$mode" = NORMAL ] || [ "$mode" = RELOAD ]; then
    bundle_owner=
    why="a link or not a plain file or folder"
    if [ -z "$root" ]; then
        # Only the bundle shipped beside this script, as installed for everyone.
        shipped=${script_dir:-/}/$driver_bundle
        given=$(readlink -f -- "$source_bundle") || given=
        [ "$given" = "$shipped" ] ||
            fail "on this system only the bundle beside this script is installed: \"$shipped\", not \"$source_bundle\""
        source_bundle=$shipped
    elif [ "$guarded" = yes ]; then
        # The folder holding the bundle by its real path, the bundle itself as given: a link
        # there is refused below, never followed.
        while [ "${source_bundle%/}" != "$source_bundle" ]; do source_bundle=${source_bundle%/}; done
        case "$source_bundle" in
            */*) source_folder=${source_bundle%/*} ;;
            *) source_folder=. ;;
        esac
        source_folder=$(readlink -f -- "${source_folder:-/}") || source_folder=
        [ -n "$source_folder" ] || fail "no bundle at \"$source_bundle\""
        source_bundle=${source_folder%/}/${source_bundle##*/}
        secure_source "$source_folder" ||
            fail "refusing to install from \"$source_folder\": \"$unsafe\" is a link, not root's, or writable by others"
    fi
    if [ "$guarded" = yes ] || [ -z "$root" ]; then
        bundle_owner=0
        why="a link, not a plain file, not root's, or writable by others"
        [ -z "$root" ] && why="$why; $not_system_wide"
    fi
    [ -d "$source_bundle" ] || fail "no bundle at \"$source_bundle\""
    odd=$(odd_entry "$source_bundle" $bundle_owner) && [ -z "$odd" ] ||
        fail "refusing to install \"$source_bundle\": \"${odd:-$source_bundle}\" is $why"
    [ -f "$source_bundle/Contents/Info.plist" ] || fail "\"$source_bundle\" has no Contents/Info.plist"
    [ -x "$source_bundle/Contents/MacOS/$executable_name" ] ||
        fail "\"$source_bundle\" has no executable Contents/MacOS/$executable_name"
fi

# A Linux system has no /Library: there the driver lives in a folder of its own under
# /usr/local/lib; a sandbox root keeps the Library/Extensions layout. The lock is beside the
# extensions folder, so that a REMOVE can take that folder away.
if [ -z "$root" ]; then
    driver_home=/usr/local/lib/HalvetorBody_ToolBox
else
    driver_home=$root/Library
fi
extensions=$driver_home/Extensions
lock_file=$driver_home/.installKext.lock
installed=$extensions/$bundle_name
run_dir=$root/run/halvetor
pid_file=$run_dir/$executable_name.pid
unit_name=$executable_name.service
unit_dir=/etc/systemd/system
unit_file=$unit_dir/$unit_name
[ -n "$root" ] && test_signal=${HVB_TEST_SIGNAL_SELF_AT:-}

use_systemd=no
if [ -z "$root" ] && [ -d /run/systemd/system ] && command -v systemctl >/dev/null 2>&1; then
    use_systemd=yes
fi

make_extensions() {
    if [ "$guarded" = yes ]; then
        secure_tree "$extensions" make ||
            fail "cannot create \"$extensions\" safely: \"$unsafe\" is a link, not root's, or writable by others"
    else
        mkdir -p -- "$extensions" || fail "cannot create \"$extensions\""
    fi
}

# The installed bundle holds only folders and regular files of this script's user that no one
# else may write: only then is its executable run.
installed_safe() {
    odd=$(odd_entry "$installed" "$(id -u)") && [ -z "$odd" ]
}

host_answers() {  # host_answers EXECUTABLE (of the installed bundle)
    installed_safe || return 1
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

# The host recorded in the pid file, when that process is still our host: it runs the installed
# executable, as this script's user. A name is no proof: anyone may start anything under any name.
running_host_pid() {
    [ -f "$pid_file" ] || return 1
    pid=$(head -c 32 -- "$pid_file" 2>/dev/null | tr -d '\n')
    case "$pid" in
        '' | *[!0-9]*) return 1 ;;
    esac
    ours=$(readlink -f -- "$installed/Contents/MacOS/$executable_name") || return 1
    running=$(readlink -- "/proc/$pid/exe" 2>/dev/null) || return 1
    [ -n "$ours" ] && [ "$running" = "$ours" ] || return 1
    # Real and effective uid.
    uids=$(sed -n 's/^Uid:[[:space:]]*\([0-9]*\)[[:space:]]*\([0-9]*\).*/\1 \2/p' "/proc/$pid/status" 2>/dev/null)
    [ "$uids" = "$(id -u) $(id -u)" ] || return 1
    printf '%s\n' "$pid"
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

# A test hook, never armed on the real root: HVB_TEST_SIGNAL_SELF_AT="POINT SIGNAL" makes this
# script send itself SIGNAL once, at the named point, as a user or the system would.
signal_self_at() {  # signal_self_at POINT
    if [ -n "$test_signal" ] && [ "${test_signal%% *}" = "$1" ]; then
        set -- "${test_signal#* }"
        test_signal=
        kill -s "$1" $$
    fi
    return 0
}

start_host() {  # start_host BUNDLE
    executable=$1/Contents/MacOS/$executable_name
    installed_safe || return 1
    if [ "$use_systemd" = yes ]; then
        # The unit is the bundle's own, checked with it above. Only the executable's path is
        # filled in, and it holds nothing but the characters of the vetted name and "/". A
        # bundle that carries no unit (one installed before it did) runs under the unit there.
        unit_template=$1/Contents/Resources/$unit_name.in
        case "$executable" in
            *[!A-Za-z0-9._/-]*) return 1 ;;
        esac
        if [ -f "$unit_template" ]; then
            # Written beside and renamed into place: a link at the unit's name is replaced,
            # never followed.
            unit_temp=$(mktemp -- "$unit_dir/.$unit_name.XXXXXXXX") || return 1
            if ! sed "s|@EXECUTABLE@|$executable|g" -- "$unit_template" >"$unit_temp" ||
                ! chmod 644 -- "$unit_temp" || ! mv -T -f -- "$unit_temp" "$unit_file"; then
                rm -f -- "$unit_temp"
                return 1
            fi
        elif [ ! -f "$unit_file" ]; then
            return 1
        fi
        systemctl daemon-reload && systemctl enable "$unit_name" >/dev/null 2>&1 &&
            systemctl restart "$unit_name" || return 1
    else
        # The host does not keep the install lock.
        "$executable" --root "$root_argument" --daemon 9<&- || return 1
    fi
    signal_self_at answer
    wait_for_answer "$executable" || return 1
    signal_self_at answered
}

# What a killed install left behind: a bundle it had moved aside goes back when nothing is
# installed (otherwise the one installed is the newer), and its folders go.
repair() {
    for leftover in "$extensions/.$bundle_name".old.*; do
        [ -d "$leftover" ] && [ ! -L "$leftover" ] || continue
        if [ -e "$leftover/$bundle_name" ] && [ ! -e "$installed" ]; then
            mv -- "$leftover/$bundle_name" "$installed" || fail "cannot put \"$leftover/$bundle_name\" back"
            say "an interrupted install had moved the installed bundle aside; it is back"
        fi
        rm -rf -- "$leftover" || fail "cannot remove \"$leftover\""
    done
    for leftover in "$extensions/.$bundle_name".new.*; do
        [ -d "$leftover" ] && [ ! -L "$leftover" ] || continue
        rm -rf -- "$leftover" || fail "cannot remove \"$leftover\""
    done
}

# One run at a time, on descriptor 9; the lock ends with this process. Its file is opened by this
# script's user alone (root on a real system): a lock anyone could open, anyone could hold. It
# lives in a folder that user alone may write to, checked above, so no one else can put a link
# there. False when the folder has gone meanwhile (a REMOVE took it away).
take_lock() {
    command -v flock >/dev/null 2>&1 || fail "flock is missing"
    while :; do
        case "$mode" in
            NORMAL | RELOAD) make_extensions ;;
            *) [ -d "$driver_home" ] || return 1 ;;
        esac
        if [ -L "$lock_file" ] || { [ -e "$lock_file" ] && [ ! -f "$lock_file" ]; }; then
            fail "refusing the lock \"$lock_file\": it is a link or not a plain file"
        fi
        umask 077
        command exec 9>>"$lock_file" || fail "cannot open the lock \"$lock_file\""
        umask 022
        facts=$(stat -L -c '%u %a' /dev/fd/9 2>/dev/null) || fail "cannot read the lock \"$lock_file\""
        [ -f /dev/fd/9 ] && [ "${facts%% *}" = "$(id -u)" ] ||
            fail "refusing the lock \"$lock_file\": it is not a plain file of this user's"
        if [ "${facts#* }" != 600 ]; then
            chmod 600 -- "$lock_file" || fail "cannot make the lock \"$lock_file\" private"
        fi
        flock -w 120 9 || fail "another install into \"$extensions\" did not end"
        # The file locked is still the one at the path: a REMOVE that held it last took it away.
        locked=$(stat -L -c '%d %i' /dev/fd/9 2>/dev/null) || locked=
        at_path=$(stat -c '%d %i' -- "$lock_file" 2>/dev/null) || at_path=
        [ -n "$locked" ] && [ "$locked" = "$at_path" ] && return 0
        exec 9>&-
    done
}

# As root, every folder on the way to the ones written below the root is checked before anything
# is made; from the root down none is shared, even with the sticky bit.
if [ "$guarded" = yes ]; then
    for folder in "$root_argument" "$extensions" "$run_dir"; do
        secure_tree "$folder" ||
            fail "refusing to install as root into \"$folder\": \"$unsafe\" is a link, not root's, or writable by others"
    done
    # The host makes its log folder itself, through a descriptor of the folder above it, never
    # through a link, and refuses one that is not root's. That folder above may be one a group
    # of the distribution writes to (Ubuntu's /var/log is 0775 root:syslog), never one that
    # everyone may write to.
    log_dir=$root/var/log/halvetor
    secure_tree "$root/var" && log_parent_safe "$root/var/log" ||
        fail "refusing to install as root into \"$log_dir\": \"$unsafe\" is a link, not root's, or writable by others"
    if [ "$use_systemd" = yes ]; then
        secure_tree "$unit_dir" ||
            fail "refusing to write a unit into \"$unit_dir\": \"$unsafe\" is a link, not root's, or writable by others"
    fi
fi

if [ "$mode" = REMOVE ]; then
    locked=no
    [ -d "$driver_home" ] && take_lock && locked=yes
    stop_host || fail "the driver host does not stop; nothing is removed"
    # The unit lives on the real system only.
    if [ -z "$root" ] && { [ -e "$unit_file" ] || [ -L "$unit_file" ]; }; then
        if command -v systemctl >/dev/null 2>&1; then systemctl disable "$unit_name" >/dev/null 2>&1 || true; fi
        rm -f -- "$unit_file" || fail "cannot remove \"$unit_file\""
        rm -f -- "$unit_dir/.$unit_name".* 2>/dev/null
        [ "$use_systemd" = yes ] && { systemctl daemon-reload >/dev/null 2>&1 || true; }
    fi
    if [ -d "$extensions" ] && [ ! -L "$extensions" ]; then
        rm -rf -- "$installed" || fail "cannot remove \"$installed\""
        for leftover in "$extensions/.$bundle_name".new.* "$extensions/.$bundle_name".old.*; do
            [ -e "$leftover" ] || [ -L "$leftover" ] || continue
            rm -rf -- "$leftover" || fail "cannot remove \"$leftover\""
        done
        rmdir -- "$extensions" 2>/dev/null || true
    fi
    if [ "$locked" = yes ]; then
        rm -f -- "$lock_file" || fail "cannot remove \"$lock_file\""
        rmdir -- "$driver_home" 2>/dev/null || true
    fi
    stage=removed
    exit 0
fi

take_lock || fail "no driver is installed at \"$installed\""
repair

if [ "$mode" = START ]; then
    [ -x "$installed/Contents/MacOS/$executable_name" ] || fail "no driver is installed at \"$installed\""
    installed_safe ||
        fail "refusing to run the driver at \"$installed\": \"${odd:-$installed}\" is a link, not a plain file, not this user's, or writable by others; install it again"
    if ! host_answers "$installed/Contents/MacOS/$executable_name"; then
        # A host on record that does not answer (stopped, wedged) makes way for a new one.
        stop_host || fail "the driver host does not answer and does not stop"
        start_host "$installed" || fail "the driver host did not answer"
    fi
    stage=done
    exit 0
fi

# Unpredictable names inside the extensions folder, made by mktemp.
staging_dir=$(mktemp -d -- "$extensions/.$bundle_name.new.XXXXXXXX") || fail "cannot create a staging folder"
staging=$staging_dir/$bundle_name
signal_self_at copy
if ! cp -R -- "$source_bundle" "$staging"; then
    fail "could not copy \"$source_bundle\"; the installed bundle is unchanged"
fi
if [ ! -x "$staging/Contents/MacOS/$executable_name" ] || [ ! -f "$staging/Contents/Info.plist" ]; then
    fail "the copy of \"$source_bundle\" is incomplete; the installed bundle is unchanged"
fi
# The copy, which no one else may change, is what counts: the source may have changed since.
odd=$(odd_entry "$staging" "$(id -u)") && [ -z "$odd" ] ||
    fail "refusing to install \"$source_bundle\": its copy holds \"${odd:-$staging}\", a link, not a plain file, or writable by others; the installed bundle is unchanged"

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

[ -e "$installed" ] && had_previous=yes
signal_self_at stop
stage=stopping
if ! stop_host; then
    stage=start
    fail "the running driver host does not stop; the installed bundle is unchanged"
fi
signal_self_at stopped

if [ "$had_previous" = yes ]; then
    previous_dir=$(mktemp -d -- "$extensions/.$bundle_name.old.XXXXXXXX") || fail "cannot create a folder for the installed bundle"
    previous=$previous_dir/$bundle_name
    signal_self_at aside
    mv -- "$installed" "$previous" || fail "cannot move the installed bundle aside"
    signal_self_at moved
fi
signal_self_at place
mv -- "$staging" "$installed" || fail "cannot put the new bundle in place"
signal_self_at placed
start_host "$installed" || fail "the new driver host did not answer"
signal_self_at started
stage=done
signal_self_at cleanup
exit 0
