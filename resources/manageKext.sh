#!/bin/sh
# Starts the installed driver's host, or removes the driver, through installKext.sh beside this
# script. An entry point of its own, so that polkit asks for each with its own words.
#
#   manageKext.sh [--root ROOT] START|REMOVE
#
# Run as root, installKext.sh must be a plain file of root's that no one else may write before it
# is run; on the real system it checks the folders holding both scripts itself, by the same rule
# as everything root installs from.
set -u
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH

program=manageKext.sh
fail() {
    printf '%s: %s\n' "$program" "$*" >&2
    exit 1
}

root=
if [ "$#" -ge 2 ] && [ "$1" = --root ]; then
    root=$2
    shift 2
fi
[ "$#" -eq 1 ] || fail "usage: $program [--root ROOT] START|REMOVE"
case "$1" in
    START | REMOVE) ;;
    *) fail "the mode is START or REMOVE, not \"$1\"" ;;
esac

here=$(readlink -f -- "$0") || here=
[ -n "$here" ] || fail "cannot tell where this script is"
script=${here%/*}/installKext.sh

if [ "$(id -u)" = 0 ]; then
    [ ! -L "$script" ] && [ -f "$script" ] ||
        fail "refusing to run \"$script\": it is a link or not a plain file"
    owner=$(find "$script" -maxdepth 0 -user 0 ! -perm /022 -print 2>/dev/null)
    [ -n "$owner" ] || fail "refusing to run \"$script\": it is not root's or others may write it"
fi

# installKext.sh takes START and REMOVE through pkexec from this entry point alone.
HVB_DRIVER_ENTRY=manageKext.sh
export HVB_DRIVER_ENTRY
if [ -n "$root" ]; then
    exec /bin/sh "$script" --root "$root" - com_brevantis_driver_HVBSCSIDriver.kext "$1"
fi
exec /bin/sh "$script" - com_brevantis_driver_HVBSCSIDriver.kext "$1"
