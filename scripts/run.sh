#!/usr/bin/env bash
# `make run`: the toolbox in a per-user sandbox, with the maker's web service standing in on
# loopback and two simulated cameras behind the driver host. The application installs the driver
# into the sandbox through its own launch check, exactly as on a real system.
#
#   scripts/run.sh [--build-dir DIR] [--root DIR]
#
# The programs come from DIR (build-run, where `make run` builds them, when not given).
# HVB_DEMO_ROOT (or --root) picks the sandbox folder; by default a fresh one under /tmp is made
# and removed afterwards. With neither a display nor QT_QPA_PLATFORM the window is drawn offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build-run}
root=${HVB_DEMO_ROOT:-}
while [ "$#" -gt 0 ]; do
    case "$1" in
        --build-dir) build_dir=$2; shift 2 ;;
        --root) root=$2; shift 2 ;;
        *) echo "usage: $0 [--build-dir DIR] [--root DIR]" >&2; exit 64 ;;
    esac
done

app=$build_dir/bin/HalvetorBody_ToolBox
webservice=$build_dir/standins/webservice/hvb-webservice
host=$build_dir/share/HalvetorBody_ToolBox/Resources/com_brevantis_driver_HVBSCSIDriver.kext/Contents/MacOS/com_brevantis_driver_HVBSCSIDriver
for f in "$app" "$webservice" "$host"; do
    [ -x "$f" ] || { echo "run: $f is missing: build first (make run does)" >&2; exit 1; }
done

made_root=0
if [ -z "$root" ]; then
    root=$(mktemp -d /tmp/halvetor-demo.XXXXXX)
    made_root=1
fi
mkdir -p "$root"
root=$(cd "$root" && pwd)
log_dir=$root/var/log/halvetor
mkdir -p "$root/etc/halvetor" "$root/run/halvetor/disks" "$log_dir" "$root/home/config" "$root/home/data" "$root/home/cache" \
    "$root/volumes/HVBR7/SYSTEM" "$root/volumes/HW7334/SYSTEM"

# The installed host is the copy under the sandbox's Library/Extensions (on "/", the system's
# driver folder) once the application has installed it; its --root, --ping and --control forms
# talk to the running one.
extensions=$root/Library/Extensions
[ "$root" = / ] && extensions=/usr/local/lib/HalvetorBody_ToolBox/Extensions
installed_host=$extensions/com_brevantis_driver_HVBSCSIDriver.kext/Contents/MacOS/com_brevantis_driver_HVBSCSIDriver

webservice_pid=
app_pid=
cleanup() {
    trap - EXIT INT TERM
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
        kill -TERM "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    local pid_file=$root/run/halvetor/com_brevantis_driver_HVBSCSIDriver.pid
    if [ -f "$pid_file" ]; then
        local pid
        pid=$(cat "$pid_file" 2>/dev/null || true)
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
            kill -TERM "$pid" 2>/dev/null || true
            for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
            kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    if [ -n "$webservice_pid" ]; then
        kill -TERM "$webservice_pid" 2>/dev/null || true
        wait "$webservice_pid" 2>/dev/null || true
    fi
    if [ "$made_root" = 1 ]; then rm -rf "$root"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

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

cat >"$root/etc/halvetor/driver.conf" <<CONF
# Simulated cameras of the demo: both in storage mode, each with its volume folder.
backend simulation
camera model=HVBR7,firmware=1.6.01,serial=HVBR7DEMO0001,label=Patrol 7,bsd=disk4,volume=$root/volumes/HVBR7
camera model=HW7334,firmware=1.0.0,serial=HW7334DEMO001,label=Unit 34,bsd=disk5,volume=$root/volumes/HW7334
CONF

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
       $installed_host --root $root --control unplug HW7334DEMO001
run: while the toolbox runs, plug, unplug and list simulated cameras with
       $installed_host --root $root --control plug HVBT3A firmware=1.3.0 serial=T3A000000001 bsd=disk6
       $installed_host --root $root --control unplug T3A000000001
       $installed_host --root $root --control list
run: a camera protected by a password (its storage locked until it is unlocked) is plugged with
       $installed_host --root $root --control plug HW7334 firmware=1.0.0 serial=HW7334LOCK001 bsd=disk7 password=Secret0042
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
