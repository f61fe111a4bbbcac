#!/bin/bash
# Bash completion of lbxctl, as a technician's Tab gives it. Opens no socket.
#   tests/completion.sh LBXCTL
set -u
cd "$(dirname "$0")/.." || exit 1
# shellcheck source=scripts/lib/common.sh
. scripts/lib/common.sh
# shellcheck source=data/lbxctl.bash-completion
. data/lbxctl.bash-completion
lbxctl=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
touch "$work/plan.csv" "$work/plain.txt"

# complete WORDS...: what Tab offers for the last word, sorted, on one line.
complete_words() {
    COMP_WORDS=("$lbxctl" "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _lbxctl
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ' -
}

check "a command" "$(complete_words s)" "set"
check "a command to ask help on" "$(complete_words help ch)" "check"
check "set's options" "$(complete_words set --ba)" "--baud"
check "only what apply takes: no option its prose names" "$(complete_words apply --s)" "--sweep"
check "only what check takes" "$(complete_words check --sa)" ""
check "the baud rates" "$(complete_words set --baud '')" "115200 19200 38400 4800 9600"
check "the plug-ins, and no word of their description" "$(complete_words set --plugin '')" \
    "Net485 OvCom485 OvTcp485 OvUdp485"
check "check's formats" "$(complete_words check --format '')" "json openmetrics table"
check "an adapter" "$(complete_words discover --interface l | grep -ow lo)" "lo"
check "a plan file" "$(complete_words apply "$work/pl")" "$work/plain.txt $work/plan.csv"
check "no files where targets go" "$(complete_words set "$work/pl")" ""

echo "$failures failed"
[ "$failures" -eq 0 ]
