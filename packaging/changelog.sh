#!/bin/sh
# Writes a Debian changelog for one package from CHANGES.md, on standard
# output:
#
#   sh packaging/changelog.sh CHANGES.md PACKAGE VERSION MAINTAINER DATE
#
# VERSION is the build's version, DATE (RFC 2822, as date -R writes it)
# the date of its top entry. CHANGES.md holds, newest first, an optional
# "## Unreleased" section and one "## VERSION (YYYY-MM-DD)" section per
# release; in each, "- " bullets (continued on lines indented by spaces),
# plain paragraphs, and "### " groups of bullets. The text before the
# first "## " heading is not part of any entry.
#
# The top entry is the build's version:
#   - with a section of that version: its items, preceded, when
#     "Unreleased" has items, by those as the changes not yet released
#     (a build of work merged since the release);
#   - without one: the items under "Unreleased" (the version was raised
#     for the coming release); it is an error when there are none.
# Every older release follows as an entry of its own, with its own date.
# A release newer than the build's version, a version given twice, an
# "Unreleased" below a release or a heading of another form is an error.
set -eu

if [ $# -ne 5 ]; then
    echo "usage: sh packaging/changelog.sh CHANGES.md PACKAGE VERSION MAINTAINER DATE" >&2
    exit 2
fi
changes=$1 package=$2 version=$3 maintainer=$4 topdate=$5
if [ ! -r "$changes" ]; then
    echo "changelog: cannot read $changes" >&2
    exit 1
fi

LC_ALL=C.UTF-8 awk -v pkg="$package" -v version="$version" -v maint="$maintainer" \
    -v topdate="$topdate" -v file="$changes" '
function fail(msg) {
    printf "changelog: %s: %s\n", file, msg > "/dev/stderr"
    failed = 1
    exit 1
}
# The Markdown marks a plain text file does without.
function plain(s) {
    gsub(/`/, "", s)
    gsub(/\*\*/, "", s)
    while (match(s, /\[[^]]*\]\([^)]*\)/)) {
        link = substr(s, RSTART, RLENGTH)
        text = link; sub(/^\[/, "", text); sub(/\].*$/, "", text)
        url = link; sub(/^[^]]*\]\(/, "", url); sub(/\)$/, "", url)
        s = substr(s, 1, RSTART - 1) text " (" url ")" substr(s, RSTART + RLENGTH)
    }
    return s
}
function vcmp(a, op, b) {
    return system("dpkg --compare-versions \"" a "\" " op " \"" b "\"") == 0
}
function rfcdate(day,    cmd, out) {
    cmd = "LC_ALL=C date -u -R -d \"" day " 12:00:00\""
    out = ""
    cmd | getline out
    close(cmd)
    if (out == "")
        fail("no date can be made of " day)
    return out
}
# Ends the item being read (a bullet or a paragraph, spread over lines):
# within a group one level below the title of the group.
function flush() {
    if (text != "") {
        n = ++items[sec]
        kind[sec, n] = group ? "B" : "P"
        body[sec, n] = plain(text)
    }
    text = ""
}
# Prints text as one item of the changelog, wrapped to 78 columns under
# the mark of its depth.
function emit(depth, s,    mark, indent, line, nw, w, i) {
    mark = depth == 0 ? "  * " : (depth == 1 ? "    - " : "      + ")
    indent = mark; gsub(/./, " ", indent)
    nw = split(s, w, /[ \t]+/)
    line = mark
    for (i = 1; i <= nw; i++) {
        if (w[i] == "")
            continue
        if (line != mark && line != indent && length(line) + 1 + length(w[i]) > 78) {
            print line
            line = indent
        }
        line = (line == mark || line == indent) ? line w[i] : line " " w[i]
    }
    if (line != mark && line != indent)
        print line
}
# The items of section s, the outermost at depth base.
function body_of(s, base,    i) {
    for (i = 1; i <= items[s]; i++) {
        if (kind[s, i] == "G")
            emit(base, body[s, i] ":")
        else
            emit(kind[s, i] == "B" ? base + 1 : base, body[s, i])
    }
}
function entry(ver) {
    if (printed++)
        print ""
    print pkg " (" ver ") unstable; urgency=medium"
    print ""
}
function trailer(date) {
    print ""
    print " -- " maint "  " date
}

BEGIN { sec = 0; nsec = 0; text = ""; group = 0 }
/^## / {
    flush()
    head = $0; sub(/^## +/, "", head); sub(/ +$/, "", head)
    nsec++; sec = nsec; group = 0; items[sec] = 0
    if (head == "Unreleased") {
        if (nsec != 1)
            fail("\"## Unreleased\" must be the first section")
        name[sec] = ""
    } else if (head ~ /^[0-9][0-9A-Za-z.+~-]* \([0-9][0-9][0-9][0-9]-[0-1][0-9]-[0-3][0-9]\)$/) {
        v = head; sub(/ .*/, "", v)
        d = head; sub(/^.*\(/, "", d); sub(/\)$/, "", d)
        if (v in seen)
            fail("version " v " has two sections")
        seen[v] = 1
        name[sec] = v; day[sec] = d
    } else {
        fail("a section heading is \"## Unreleased\" or \"## VERSION (YYYY-MM-DD)\", not \"## " head "\"")
    }
    next
}
sec == 0 { next }
/^### / {
    flush()
    g = $0; sub(/^### +/, "", g)
    n = ++items[sec]; kind[sec, n] = "G"; body[sec, n] = plain(g)
    group = 1
    next
}
/^#/ { fail("only \"## \" and \"### \" headings can be turned into a changelog: " $0) }
/^[ \t]*$/ { flush(); next }
/^[-*] / {
    flush()
    text = $0; sub(/^[-*] +/, "", text)
    next
}
{
    line = $0; sub(/^[ \t]+/, "", line)
    if (text == "") {
        text = line
    } else {
        text = text " " line
    }
}
END {
    if (failed)
        exit 1
    flush()
    top = 0
    for (s = 1; s <= nsec; s++) {
        if (name[s] == "")
            continue
        if (vcmp(name[s], "gt", version))
            fail("the release " name[s] " is newer than the build'"'"'s version " version)
        if (s > 1 && name[s - 1] != "" && !vcmp(name[s - 1], "gt", name[s]))
            fail("the releases are not newest first: " name[s - 1] " above " name[s])
        if (name[s] == version)
            top = s
    }
    unreleased = (nsec >= 1 && name[1] == "") ? items[1] : 0

    if (top) {
        entry(version)
        if (unreleased) {
            emit(0, "Not yet released, merged after " version ":")
            body_of(1, 1)
        }
        body_of(top, 0)
        if (items[top] == 0 && !unreleased)
            emit(0, "Release " version ".")
        trailer(topdate)
        first_older = top + 1
    } else {
        if (!unreleased)
            fail("there is no section for the version " version " and nothing under \"## Unreleased\"")
        entry(version)
        body_of(1, 0)
        trailer(topdate)
        first_older = 1
    }
    for (s = first_older; s <= nsec; s++) {
        if (name[s] == "")
            continue
        entry(name[s])
        body_of(s, 0)
        if (items[s] == 0)
            emit(0, "Release " name[s] ".")
        trailer(rfcdate(day[s]))
    }
}
' "$changes"
