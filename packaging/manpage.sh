#!/bin/sh
# Writes a gzipped manual page for a program from its --help text.
# Usage: manpage.sh PROGRAM NAME VERSION EXTRA OUTPUT [RELATED...]
#   EXTRA: roff appended before SEE ALSO when the file exists
#   RELATED: programs named under SEE ALSO
#
# The --help text is read as: "Usage:" lines (the synopsis), a description
# whose first line is the one-line summary, headings ("Options:") ending in a
# colon at the left margin, and indented entries "  TERM  TEXT" whose text may
# continue on further indented lines.
set -eu
program=$1 name=$2 version=$3 extra=$4 output=$5
shift 5

mkdir -p "$(dirname "$output")"
# Leak reports of a sanitizer build are no business of a manual page.
help=$(QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 timeout 60 "$program" --help) || {
    echo "manpage.sh: $program --help failed" >&2
    exit 1
}

{
    printf '.TH %s 1 "" "BootLoaderTorvexII %s" "User Commands"\n' \
        "$(echo "$name" | tr '[:lower:]' '[:upper:]' | sed 's/-/\\-/g')" "$version"
    printf '%s\n' "$help" | awk -v name="$name" -v sq="'" '
        function esc(s) {
            gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s)
            if (substr(s, 1, 1) == "." || substr(s, 1, 1) == sq) s = "\\&" s
            return s
        }
        function heading(h,   u) {
            u = toupper(h)
            if (u ~ /^(OPTIONS|ARGUMENTS|EXIT STATUS|FILES|ENVIRONMENT|EXAMPLES)$/) {
                print ".SH " esc(u); top = u
            } else {
                if (top != "OPTIONS") { print ".SH OPTIONS"; top = "OPTIONS" }
                print ".SS " esc(h)
            }
        }
        function header(   summary) {
            summary = raw
            if (match(summary, /\. /)) summary = substr(summary, 1, RSTART - 1)
            sub(/\.$/, "", summary)
            if (summary ~ /^[A-Z]([a-z]| )/) summary = tolower(substr(summary, 1, 1)) substr(summary, 2)
            print ".SH NAME"; print esc(name) " \\- " esc(summary)
            print ".SH SYNOPSIS"; print syn
            print ".SH DESCRIPTION"; print desc
        }
        BEGIN { state = "start" }
        # Qt prints the program as it was started: the usage lines name it plainly.
        state == "start" && /^Usage: / {
            sub(/^Usage: +[^ ]+/, name); syn = esc($0); state = "usage"; next
        }
        state == "usage" && $0 ~ ("^ +[^ ]*" name "( |$)") {
            sub(/^ +[^ ]+/, name); syn = syn "\n.br\n" esc($0); next
        }
        state == "usage" {
            if ($0 ~ /^ *$/) next
            raw = $0; desc = esc($0); state = "desc"; next
        }
        # The first sentence of the first paragraph is the one-line summary.
        state == "desc" {
            if ($0 !~ /^ *$/ && $0 !~ /^[^ ].*:$/) { raw = raw " " $0; desc = desc "\n" esc($0); next }
            header(); state = "text"
        }
        /^ *$/ { if (state == "entry") state = "text"; blank = 1; next }
        /^[^ ].*:$/ { sub(/:$/, ""); heading($0); blank = 0; state = "text"; next }
        /^ +[^ ]/ {
            match($0, /^ +/); indent = RLENGTH
            if (state == "entry" && indent > termIndent) {
                sub(/^ +/, ""); print esc($0); next
            }
            line = substr($0, indent + 1)
            if (match(line, /  +/)) {
                term = substr(line, 1, RSTART - 1); text = substr(line, RSTART + RLENGTH)
            } else {
                term = line; text = ""
            }
            print ".TP"; print "\\fB" esc(term) "\\fR"
            if (text != "") print esc(text)
            termIndent = indent; state = "entry"; blank = 0; next
        }
        {
            if (blank) print ".PP"
            blank = 0; state = "text"; print esc($0)
        }
        END { if (state == "desc") header() }
    '
    if [ -f "$extra" ]; then cat "$extra"; fi
    if [ $# -gt 0 ]; then
        echo ".SH SEE ALSO"
        sep=""
        for other in "$@"; do
            printf '%s\\fB%s\\fR(1)' "$sep" "$(echo "$other" | sed 's/-/\\-/g')"
            sep=", "
        done
        echo
    fi
} | gzip -9n > "$output.tmp"
mv "$output.tmp" "$output"
