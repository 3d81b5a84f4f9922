#!/usr/bin/env bash
# The completion script as bash-completion loads it: each row is a command
# line being typed and the words it must offer.
#   completion_test.sh COMPLETION_SCRIPT
set -uo pipefail
source /usr/share/bash-completion/bash_completion 2>/dev/null ||
    { echo "bash-completion is not installed: skipped"; exit 77; }
source "$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" && touch a.gba b.agb notes.txt l.dat z.zip && mkdir dir

failures=0
row() {
    local line=$1 expected=$2
    COMP_LINE=$line
    COMP_POINT=${#line}
    read -ra COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _kelvo_gba_cli kelvo-gba-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [[ $got != "$expected" ]]; then
        echo "FAIL: '$line' offered '$got', expected '$expected'"
        failures=$((failures + 1))
    fi
}

row "kelvo-gba-cli " "fix info pad rename-to-list repair trim verify"
row "kelvo-gba-cli --" "--help --version"
row "kelvo-gba-cli info --" "--dat --header --help --json"
row "kelvo-gba-cli rename-to-list -" "--dat --dry-run --help"
row "kelvo-gba-cli info --dat " "dir l.dat z.zip"
row "kelvo-gba-cli fix -" "--dry-run --help -c -m -p -r -t"
row "kelvo-gba-cli pad --byte " "0x00 0xFF"
row "kelvo-gba-cli trim " "a.gba b.agb dir"
row "kelvo-gba-cli repair -- -" ""
row "kelvo-gba-cli verify -" "--dat --help --json --recursive -r"
row "kelvo-gba-cli verify --dat " "dir l.dat z.zip"
row "kelvo-gba-cli verify -r " "a.gba b.agb dir z.zip"
((failures == 0)) && echo "all completions offered"
exit $((failures > 0))
