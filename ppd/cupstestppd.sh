#!/bin/sh
# Runs cupstestppd on every PPD given, with the built filter placed in a
# private root tree where cupsd would look for it, so that the check of
# the *cupsFilter program (present, executable, not writable by others)
# applies to the filter as it will be installed. Fails on any failure.
#
# usage: cupstestppd.sh FILTER SERVERBIN ROOT PPD...
set -eu

filter=$1 serverbin=$2 root=$3
shift 3

rm -rf "$root"
mkdir -p "$root$serverbin/filter"
cp "$filter" "$root$serverbin/filter/bandrill"
chmod 755 "$root$serverbin/filter/bandrill"

status=0
for ppd in "$@"; do
    # -W translations: the PPDs carry no translations to check.
    if ! cupstestppd -R "$root" "$ppd"; then
        status=1
    fi
done
exit $status
