#!/bin/sh
# The driver host of the emulated-bus demo: `scripts/run.sh --usb-bus` puts this script in place
# of the host's executable in the bundle the toolbox installs, so that the host the launch check
# starts runs on the emulated bus while the toolbox keeps the machine's own /sys and /dev.
# Contents/Resources/usbbus beside it names, one a line, the bus program, the demo's root and
# the real host; the host's own arguments follow unchanged.
set -u
names=$(dirname -- "$0")/../Resources/usbbus
{ IFS= read -r usbbus && IFS= read -r root && IFS= read -r host; } <"$names" || {
    printf 'usbbus-host: cannot read %s\n' "$names" >&2
    exit 1
}
exec "$usbbus" --root "$root" --run "$host" "$@"
