#!/bin/sh
# Writes a program's manual page from its own help text, so that the two
# never disagree: `PROGRAM --help` gives the synopsis, the description and
# the sections ("options:", "commands:", ...); when it lists commands,
# `PROGRAM help COMMAND` gives each command's part.
#
#   man_page.sh PROGRAM NAME VERSION SUMMARY OUTPUT
set -eu
program=$1
name=$2
version=$3
summary=$4
output=$5
here=$(dirname "$0")

# Text for roff: backslashes and hyphens escaped, no line taken for a
# request.
escape='{ gsub(/\\/, "\\e"); gsub(/-/, "\\-"); if ($0 ~ /^[.'"'"']/) $0 = "\\&" $0; print }'

{
    printf '.TH %s 1 "" "vantel-rfid %s" "User Commands"\n' "$(echo "$name" | tr 'a-z' 'A-Z')" "$version"
    printf '.SH NAME\n%s \\- %s\n' "$name" "$summary"
    "$program" --help | awk -f "$here/man_page.awk"
    commands=$("$program" --help | awk '/^commands:$/ { listing = 1; next } /^$/ { listing = 0 } listing { print $1 }')
    if [ -n "$commands" ]; then
        printf '.SH "COMMANDS IN DETAIL"\n'
        for command in $commands; do
            printf '.SS %s\n.nf\n' "$command"
            "$program" help "$command" | awk "$escape"
            printf '.fi\n'
        done
    fi
} > "$output.tmp"
mv "$output.tmp" "$output"
