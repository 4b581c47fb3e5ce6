#!/bin/sh
# Starts the installed driver's host, or removes the driver, through installKext.sh beside this
# script. An entry point of its own, so that polkit asks for each with its own words.
#
#   manageKext.sh [--root ROOT] START|REMOVE
#
# Run as root, installKext.sh and every folder above it must be root's and writable by no one
# else before it is run.
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
    # Every folder from "/" down, then the script: a real folder or file of root's that no one
    # else may write to (a shared folder with the sticky bit may lead to it).
    current=
    rest=${script#/}
    while :; do
        facts=$(stat -c '%u %a %F' -- "${current:-/}" 2>/dev/null) || fail "cannot check \"${current:-/}\""
        permissions=$((0$(echo "$facts" | cut -d' ' -f2)))
        [ ! -L "${current:-/}" ] && [ "${facts%% *}" = 0 ] ||
            fail "refusing to run \"$script\": \"${current:-/}\" is a link or not root's"
        if [ $((permissions & 18)) -ne 0 ]; then
            [ -n "$rest" ] && [ -d "${current:-/}" ] && [ $((permissions & 512)) -ne 0 ] ||
                fail "refusing to run \"$script\": others may write \"${current:-/}\""
        fi
        [ -n "$rest" ] || break
        current=$current/${rest%%/*}
        case "$rest" in
            */*) rest=${rest#*/} ;;
            *) rest= ;;
        esac
    done
    [ -f "$script" ] || fail "no installKext.sh beside \"$here\""
fi

if [ -n "$root" ]; then
    exec /bin/sh "$script" --root "$root" - com_brevantis_driver_HVBSCSIDriver.kext "$1"
fi
exec /bin/sh "$script" - com_brevantis_driver_HVBSCSIDriver.kext "$1"
