#!/bin/sh
# Runs a command of root's where no fault of the code under test can reach the machine: in a
# mount namespace of its own whose /run, /var/log and /usr/local are empty and whose /etc is a
# copy of the machine's (a copy, not files bound one by one: the account tools rename their new
# files into place). A folder made there, an account added, a host started there stays there; the
# namespace ends with its last process. Anyone else's command runs as it is: it cannot write to
# the system's folders anyway.
#
#   private_system.sh COMMAND [ARGUMENT...]
set -eu
[ "$(id -u)" = 0 ] || exec "$@"
if [ "${HVB_PRIVATE_SYSTEM:-}" != inside ]; then
    HVB_PRIVATE_SYSTEM=inside exec unshare --mount --propagation private -- /bin/sh "$0" "$@"
fi
unset HVB_PRIVATE_SYSTEM
here=$(pwd)
for folder in /run /var/log /usr/local; do
    mount -t tmpfs -o mode=755 private "$folder"
done
mkdir /usr/local/bin /usr/local/sbin /usr/local/lib /usr/local/share
# The copy is read through the working folder, which stays the machine's /etc below the mount.
cd /etc
mount -t tmpfs -o mode=755 private /etc
cp -a . /etc/
cd "$here"
exec "$@"
