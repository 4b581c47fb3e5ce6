#!/bin/sh
# Runs the driver host as its unit confines it, but for what needs systemd: the system read-only
# but for the host's run and log folders below ROOT (and the emulated kernel's folder), within the
# unit's capability bounding set, with no new privileges, under the unit's system-call filter.
# Run in a mount namespace of its own (unshare -m).
#
#   confined_as_unit.sh ROOT PRELOAD BOUNDING FILTER UNIT COMMAND [ARGUMENT...]
root=$1 preload=$2 bounding=$3 filter=$4 unit=$5
shift 5
# What this applies besides the filter, or what confines nothing.
applied=Type,ExecStart,Restart,RuntimeDirectory,RuntimeDirectoryMode,LogsDirectory,LogsDirectoryMode
applied=$applied,CapabilityBoundingSet,NoNewPrivileges,ProtectSystem
mkdir -p "$root/run/halvetor" "$root/var/log/halvetor" || exit 90
chmod 755 "$root/run/halvetor" && chmod 750 "$root/var/log/halvetor" || exit 90
for own in "$root/run/halvetor" "$root/var/log/halvetor" "$UMOCKDEV_DIR"; do
  mount --bind "$own" "$own" || exit 91
done
findmnt -rno TARGET | while read -r target; do
  case "$target" in "$root/run/halvetor" | "$root/var/log/halvetor" | "$UMOCKDEV_DIR") continue ;; esac
  mount -o remount,bind,ro "$target" 2>/dev/null
done
# Seen without writing to the system: its options, and a probe in the sandbox.
case $(findmnt -no OPTIONS /) in ro | ro,*) ;; *) echo 'the system is writable'; exit 92 ;; esac
if touch "$root/var/probe"; then echo 'the root is writable'; exit 92; fi
touch "$root/run/halvetor/probe" && rm "$root/run/halvetor/probe" || exit 93
# The test's allowance, not the unit's: LeakSanitizer stops the host's threads with ptrace at
# exit, which the unit's filter refuses (@debug), so this run is not checked for leaks;
# AddressSanitizer and umockdev's preload need nothing else the filter refuses.
echo 'allowed for the sanitizer: ASAN_OPTIONS=detect_leaks=0 (LeakSanitizer needs ptrace)'
exec setpriv --bounding-set "$bounding" --inh-caps=-all --no-new-privs -- \
  "$filter" --applied "$applied" "$unit" env LD_PRELOAD="$preload" \
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" "$@"
