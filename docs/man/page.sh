#!/bin/sh
# page.sh SCDOC SOURCE.scd TIDY.awk OUT [PROGRAM]: the manual page OUT, and
# OUT.gz, from its scdoc source, where a line "@synopsis@" or "@options@"
# stands for what PROGRAM's own help says (each command's, for a program with
# commands), in English.
set -eu
scdoc=$1 source=$2 tidy=$3 out=$4 program=${5:-}
here=$(dirname "$0")
help() {
    [ -n "$program" ] || return 0
    commands=$(LC_ALL=C.UTF-8 LANGUAGE='' "$program" --help |
        sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\)  .*/\1/p')
    if [ -z "$commands" ]; then
        echo "@command"
        LC_ALL=C.UTF-8 LANGUAGE='' "$program" --help
    fi
    for command in $commands; do
        echo "@command $command"
        LC_ALL=C.UTF-8 LANGUAGE='' "$program" help "$command"
    done
}
tmp=$out.help
help >"$tmp"
synopsis=$(awk -v section=synopsis -f "$here/help.awk" "$tmp")
options=$(awk -v section=options -f "$here/help.awk" "$tmp")
rm -f "$tmp"
# Through the environment: awk -v would read the escapes of scdoc.
synopsis=$synopsis options=$options awk '
    $0 == "@synopsis@" { print ENVIRON["synopsis"]; next }
    $0 == "@options@" { print ENVIRON["options"]; next }
    { print }' "$source" | "$scdoc" | awk -f "$tidy" >"$out"
gzip -9n -c "$out" >"$out.gz"
