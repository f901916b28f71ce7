#!/bin/sh
# Usage: make-cli-manpage.sh KELVANE_CLI INCLUDE_FILE OUTPUT
# Writes the manual page of kelvane-cli from its own help: help2man formats the
# top-level --help, and the --help of each command that it lists becomes one
# subsection of COMMANDS, so a new command or option needs no edit here.
# INCLUDE_FILE adds the sections the help does not hold (exit statuses, examples).
set -eu
cli=$1 include=$2 output=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

commands=$("$cli" --help | awk 'tolower($0) ~ /^subcommands:$/ { listed = 1; next } /^$/ { listed = 0 } listed && NF { print $1 }')
[ -n "$commands" ] || { echo "$0: $cli --help lists no commands" >&2; exit 1; }

{
    echo '[COMMANDS]'
    for command in $commands; do
        echo ".SS \"$command\""
        # One command's page, from its synopsis on, with its headings brought
        # down to bold lines inside the subsection and without the footer that
        # every command repeats (EXIT STATUS has it).
        # Example lines keep their own line breaks.
        help2man --no-info --no-discard-stderr --help-option="$command --help" "$cli" | awk '
            function endExamples() { if (examples) print ".fi\n.RE"; examples = 0 }
            /^\.SH SYNOPSIS/ { body = 1; next }
            !body { next }
            /^\.SH DESCRIPTION/ { print ".PP"; next }
            /^\.S[HS] / {
                endExamples()
                sub(/^\.S[HS] /, ""); gsub(/"/, ""); sub(/:$/, "")
                heading = toupper(substr($0, 1, 1)) tolower(substr($0, 2))
                print ".PP\n.B " heading ":"
                if (heading ~ /^Example/) { print ".RS\n.nf"; examples = 1 }
                next
            }
            examples && /^\.(IP|PP)$/ { next }
            /^Exit status:/ { skipping = 1 }
            skipping && /^\./ { skipping = 0 }
            !skipping { print }
            END { endExamples() }'
    done
    echo
    cat "$include"
} > "$work/include.h2m"

help2man --no-info --name "reduce the polygon count of animated MDL5, MDL7, Quake MDL, MD2 and MD3 models" \
    --include "$work/include.h2m" "$cli" > "$work/page.1"
mv "$work/page.1" "$output"
