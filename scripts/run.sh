#!/usr/bin/env bash
# `make run`: the toolbox in a per-user sandbox, with the maker's web service standing in on
# loopback and two simulated cameras behind the driver host. The application installs the driver
# into the sandbox through its own launch check, exactly as on a real system.
#
#   scripts/run.sh [--build-dir DIR] [--root DIR] [--usb-bus]
#
# --usb-bus (or HVB_DEMO_USB_BUS=1) puts the same two cameras on an emulated kernel USB bus
# (hvb-usbbus, umockdev) instead, and the driver host drives them through its Linux backend:
# udev events, sysfs and SG_IO on /dev/sgN, as it would drive real ones. Only the host runs on
# that bus; the toolbox sees the machine as in the simulation demo (its network above all).
# The programs come from DIR (build-run, where `make run` builds them, when not given; a
# relative DIR is taken from the source folder).
# HVB_DEMO_ROOT (or --root) picks the sandbox folder; by default a fresh one under /tmp is made
# and removed afterwards. With neither a display nor QT_QPA_PLATFORM the window is drawn offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build-run}
root=${HVB_DEMO_ROOT:-}
usb_bus=${HVB_DEMO_USB_BUS:-0}
while [ "$#" -gt 0 ]; do
    case "$1" in
        --build-dir) build_dir=$2; shift 2 ;;
        --root) root=$2; shift 2 ;;
        --usb-bus) usb_bus=1; shift ;;
        *) echo "usage: $0 [--build-dir DIR] [--root DIR] [--usb-bus]" >&2; exit 64 ;;
    esac
done

[ -d "$build_dir" ] || { echo "run: $build_dir is missing: build first (make run does)" >&2; exit 1; }
build_dir=$(cd "$build_dir" && pwd)  # so that the printed commands work from any folder
app=$build_dir/bin/HalvetorBody_ToolBox
webservice=$build_dir/standins/webservice/hvb-webservice
host=$build_dir/libexec/com_brevantis_driver_HVBSCSIDriver.kext/Contents/MacOS/com_brevantis_driver_HVBSCSIDriver
usbbus=$build_dir/SCSIDriver/hvb-usbbus
programs=("$app" "$webservice" "$host")
[ "$usb_bus" = 1 ] && programs+=("$usbbus")
for f in "${programs[@]}"; do
    [ -x "$f" ] || { echo "run: $f is missing: build first (make run does)" >&2; exit 1; }
done

made_root=0
if [ -z "$root" ]; then
    root=$(mktemp -d /tmp/halvetor-demo.XXXXXX)
    made_root=1
fi
mkdir -p "$root"
root=$(cd "$root" && pwd)
if [ "$usb_bus" = 1 ] && [ "$root" = / ]; then
    echo "run: the emulated bus serves a sandbox, not the system's root" >&2
    exit 64
fi
log_dir=$root/var/log/halvetor
mkdir -p "$root/etc/halvetor" "$root/run/halvetor/disks" "$log_dir" "$root/home/config" "$root/home/data" "$root/home/cache" \
    "$root/volumes/HVBR7/SYSTEM" "$root/volumes/HW7334/SYSTEM"

# The installed host is the copy under the sandbox's Library/Extensions (on "/", the system's
# driver folder) once the application has installed it; its --root, --ping and --control forms
# talk to the running one.
extensions=$root/Library/Extensions
[ "$root" = / ] && extensions=/usr/local/lib/HalvetorBody_ToolBox/Extensions
installed_host=$extensions/com_brevantis_driver_HVBSCSIDriver.kext/Contents/MacOS/com_brevantis_driver_HVBSCSIDriver

host_name=com_brevantis_driver_HVBSCSIDriver
pid_file=$root/run/halvetor/$host_name.pid

# Whatever ends the demo (the toolbox quits, Ctrl-C, SIGTERM, a closed terminal's SIGHUP), the
# toolbox, whatever its launch check started, the driver host and the web service end with it.
webservice_pid=
usbbus_pid=
app_pid=
cleaning=0

# "PID PPID" of every process, read from /proc.
process_table() {
    local stat line rest
    for stat in /proc/[0-9]*/stat; do
        { read -r line <"$stat"; } 2>/dev/null || continue
        rest=${line##*) }
        set -- $rest
        echo "${line%% *} $2"
    done
}

# The processes below PID. Taken before PID ends, since its children are then handed to init.
descendants() {
    local table found pid ppid grew=1
    table=$(process_table)
    found=" $1 "
    while [ "$grew" = 1 ]; do
        grew=0
        while read -r pid ppid; do
            case "$found" in *" $ppid "*) case "$found" in *" $pid "*) ;; *) found="$found$pid "; grew=1 ;; esac ;; esac
        done <<<"$table"
    done
    found=${found# $1 }
    echo $found
}

alive() {  # a zombie counts as gone
    local line
    { read -r line <"/proc/$1/stat"; } 2>/dev/null || return 1
    line=${line##*) }
    case "${line%% *}" in Z | X) return 1 ;; esac
    return 0
}

# TERM, up to SECONDS for them to end, then KILL; our own children are reaped.
stop_processes() {  # stop_processes SECONDS PID...
    local seconds=$1 pid left tries
    shift
    [ "$#" -gt 0 ] || return 0
    kill -TERM "$@" 2>/dev/null
    for ((tries = 0; tries < seconds * 10; tries++)); do
        left=
        for pid in "$@"; do alive "$pid" && left="$left $pid"; done
        [ -n "$left" ] || break
        sleep 0.1
    done
    for pid in "$@"; do
        if alive "$pid"; then kill -KILL "$pid" 2>/dev/null; fi
        wait "$pid" 2>/dev/null
    done
    return 0
}

# The hosts serving this sandbox: the one its pid file names and any started with --root on
# it (one the launch check started late may not have written its pid file yet).
sandbox_hosts() {
    local dir pid args i recorded=
    { read -r recorded <"$pid_file"; } 2>/dev/null
    for dir in /proc/[0-9]*; do
        pid=${dir#/proc/}
        { mapfile -d '' -t args <"$dir/cmdline"; } 2>/dev/null || continue
        [ "${#args[@]}" -gt 0 ] && [ "${args[0]##*/}" = "$host_name" ] || continue
        if [ "$pid" = "$recorded" ]; then echo "$pid"; continue; fi
        for ((i = 1; i + 1 < ${#args[@]}; i++)); do
            if [ "${args[i]}" = --root ] && [ "${args[i + 1]}" = "$root" ]; then
                echo "$pid"
                break
            fi
        done
    done
}

cleanup() {
    # Runs once; a further signal must neither cut it short nor find a default disposition
    # while its trap is still running.
    trap '' INT TERM HUP
    [ "$cleaning" = 0 ] || return 0
    cleaning=1
    set +e
    if [ -n "$app_pid" ]; then
        # What the toolbox started (its launch check, an install) could start a host after it
        # has gone, so that goes too; it is known only while the toolbox still runs.
        local tree tries pid left=
        tree=$(descendants "$app_pid")
        kill -TERM "$app_pid" 2>/dev/null
        for ((tries = 0; tries < 100; tries++)); do
            alive "$app_pid" || break
            tree="$tree $(descendants "$app_pid")"
            sleep 0.1
        done
        stop_processes 1 "$app_pid"
        for pid in $tree; do alive "$pid" && left="$left $pid"; done
        stop_processes 5 $left
    fi
    local round hosts
    for round in 1 2 3; do
        hosts=$(sandbox_hosts)
        [ -n "$hosts" ] || break
        stop_processes 5 $hosts
    done
    [ -n "$usbbus_pid" ] && stop_processes 5 "$usbbus_pid"
    [ -n "$webservice_pid" ] && stop_processes 5 "$webservice_pid"
    if [ "$made_root" = 1 ]; then rm -rf "$root"; fi
}
on_signal() {  # on_signal STATUS
    cleanup
    exit "$1"
}
trap cleanup EXIT
trap 'on_signal 130' INT
trap 'on_signal 143' TERM
trap 'on_signal 129' HUP

# The web service on a free loopback port; it logs each request it serves.
"$webservice" --port 0 >"$log_dir/webservice.log" 2>&1 &
webservice_pid=$!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/^PORT=//p' "$log_dir/webservice.log" 2>/dev/null | head -n 1 || true)
    [ -n "$port" ] && break
    kill -0 "$webservice_pid" 2>/dev/null || { cat "$log_dir/webservice.log" >&2; exit 1; }
    sleep 0.1
done
[ -n "$port" ] || { echo "run: the web service did not start" >&2; exit 1; }
base=http://127.0.0.1:$port

# Simulated cameras of the demo: both in storage mode, each with its volume folder.
demo_cameras=(
    "model=HVBR7,firmware=1.6.01,serial=HVBR7DEMO0001,label=Squad 7,bsd=disk4,volume=$root/volumes/HVBR7"
    "model=HW7334,firmware=1.0.0,serial=HW7334DEMO001,label=Unit 34,bsd=disk5,volume=$root/volumes/HW7334"
)
if [ "$usb_bus" = 1 ]; then
    # The cameras are on the emulated bus; the host finds them as a real one would.
    printf 'backend linux\n' >"$root/etc/halvetor/driver.conf"
    control=("$usbbus" --root "$root" --control)
    bus_cameras=()
    for c in "${demo_cameras[@]}"; do bus_cameras+=(--camera "$c"); done
    "$usbbus" --root "$root" "${bus_cameras[@]}" >"$log_dir/usbbus.log" 2>&1 &
    usbbus_pid=$!
    up=0
    for _ in $(seq 100); do
        grep -q '^hvb-usbbus: UMOCKDEV_DIR=' "$log_dir/usbbus.log" 2>/dev/null && { up=1; break; }
        kill -0 "$usbbus_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ "$up" = 1 ] || { cat "$log_dir/usbbus.log" >&2; echo "run: the emulated bus did not start" >&2; exit 1; }

    # The toolbox installs and starts the host from a copy of its libexec folder (the driver's
    # resources: the bundle and its scripts) whose host is scripts/usbbus-host.sh: that runs the
    # real host on the bus (hvb-usbbus --run). Copies, since the toolbox follows no link.
    resources=$build_dir/libexec
    bus_resources=$root/usbbus/libexec
    rm -rf "$root/usbbus"
    mkdir -p "$bus_resources"
    for entry in "$resources"/*; do
        [ "${entry##*/}" = "$host_name.kext" ] || cp -Rp "$entry" "$bus_resources/"
    done
    bundle=$bus_resources/$host_name.kext
    mkdir -p "$bundle/Contents/MacOS" "$bundle/Contents/Resources"
    cp "$resources/$host_name.kext/Contents/Info.plist" "$bundle/Contents/"
    cp scripts/usbbus-host.sh "$bundle/Contents/MacOS/$host_name"
    chmod 755 "$bundle/Contents/MacOS/$host_name"
    printf '%s\n' "$usbbus" "$root" "$resources/$host_name.kext/Contents/MacOS/$host_name" \
        >"$bundle/Contents/Resources/usbbus"
    export HVB_LIBEXEC=$bus_resources
else
    { echo "backend simulation"; printf 'camera %s\n' "${demo_cameras[@]}"; } >"$root/etc/halvetor/driver.conf"
    control=("$installed_host" --root "$root" --control)
fi

export HVB_ROOT=$root
export HVB_API_BASE=$base
export HVB_SITE_URL=$base/
export HVB_ANALYTICS_BASE=$base
export HVB_SIMULATED_DISKS=$root/run/halvetor/disks
export XDG_CONFIG_HOME=$root/home/config
export XDG_DATA_HOME=$root/home/data
export XDG_CACHE_HOME=$root/home/cache
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    echo "run: no display: the window is drawn offscreen (use xvfb-run or a desktop to see it)"
fi

cat <<HELP
run: sandbox $root, web service $base
run: two cameras are attached, so the toolbox asks for one; to keep only the HVBR7:
       ${control[*]} unplug HW7334DEMO001
run: while the toolbox runs, plug, unplug and list simulated cameras with
       ${control[*]} plug HVBT3A firmware=1.3.0 serial=T3A000000001 bsd=disk6
       ${control[*]} unplug T3A000000001
       ${control[*]} list
run: a camera protected by a password (its storage locked until it is unlocked) is plugged with
       ${control[*]} plug HW7334 firmware=1.0.0 serial=HW7334LOCK001 bsd=disk7 password=Secret0042
run: logs: $log_dir (the toolbox's own output below)
HELP

"$app" "$@" &
app_pid=$!
set +e
wait "$app_pid"
status=$?
set -e
app_pid=
exit "$status"
