#!/bin/sh
# Runs cupstestppd on every PPD given, with the built filter placed in a
# private root tree where cupsd would look for it, so that the check of
# the *cupsFilter program (present, executable, not writable by others)
# applies to the filter as it will be installed. Fails on any failure and
# on any warning but the two that do not matter here:
#   Size "..." should be the Adobe standard name "...": the label and roll
#     sizes have no Adobe name (and the zero-margin Adobe names end in
#     .Fullbleed); the inch label sizes are named by their PWG names so
#     that CUPS maps PWG media names to them by name;
#   PCFileName longer than 8.3: the file names are part of the -m names.
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
    # -W all: every warning; -W translations is part of it, but the PPDs
    # carry no translations to check.
    if ! out=$(cupstestppd -W all -R "$root" "$ppd" 2>&1); then
        printf '%s\n' "$out"
        status=1
        continue
    fi
    bad=$(printf '%s\n' "$out" | grep 'WARN' |
          grep -v 'should be the Adobe standard name' |
          grep -v 'PCFileName longer than 8.3' || true)
    if [ -n "$bad" ]; then
        printf '%s: warnings that matter:\n%s\n' "$ppd" "$bad"
        status=1
    else
        printf '%s\n' "$out" | head -n 1
    fi
done
exit $status
