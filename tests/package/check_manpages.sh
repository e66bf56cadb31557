#!/usr/bin/env bash
# Every option and command that `zemprix-cli --help` and `zemprix-boxsim --help` list has an
# entry (a .TP tag) in its manual page, so that a new option cannot ship undocumented.
# Usage: check_manpages.sh ZEMPRIX_CLI ZEMPRIX_BOXSIM MAN_SOURCE_DIR
set -u
cli=${1:?}; boxsim=${2:?}; man=${3:?}
failures=0

# The tags of a page: the line after each .TP, without font macros, quotes and roff escapes.
tags() {
  awk 'tp { print; tp = 0 } /^\.TP/ { tp = 1 }' "$1" |
    sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\c//g' -e 's/^\.[BIR]*  *//' -e 's/"//g'
}

# check PAGE KIND NAME...: each NAME starts a tag or is one of a tag's comma-separated names.
check() {
  local page=$1 kind=$2; shift 2
  local list name
  list=$(tags "$page" | sed 's/ *, */\n/g' | awk '{ print $1 }')
  [ -n "$list" ] || { echo "FAIL: no entries in $page"; failures=$((failures + 1)); return; }
  for name in "$@"; do
    grep -qxF -- "$name" <<<"$list" || { echo "FAIL: $(basename "$page") has no entry for $kind $name"; failures=$((failures + 1)); }
  done
}

help=$("$cli" --help) || { echo "FAIL: $cli --help"; exit 1; }
options=$(sed -n '/^Options:/,/^Commands:/p' <<<"$help" | grep -oE '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u)
commands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p' | sort -u)
[ -n "$options" ] && [ -n "$commands" ] || { echo "FAIL: cannot read the options and commands of --help"; exit 1; }
# shellcheck disable=SC2086
check "$man/zemprix-cli.1" option $options
# shellcheck disable=SC2086
check "$man/zemprix-cli.1" command $commands
# Every exit status of --help is described.
for status in $(sed -n '/^Exit status/,$p' <<<"$help" | grep -oE '\b[0-9]{1,3}\b' | sort -u); do
  tags "$man/zemprix-cli.1" | grep -qE "^$status\b|, *$status\b" ||
    { echo "FAIL: zemprix-cli.1 has no entry for exit status $status"; failures=$((failures + 1)); }
done

help=$("$boxsim" --help) || { echo "FAIL: $boxsim --help"; exit 1; }
options=$(grep -oE '^  --[a-z][a-z-]*' <<<"$help" | tr -d ' ' | sort -u)
[ -n "$options" ] || { echo "FAIL: cannot read the options of zemprix-boxsim --help"; exit 1; }
# shellcheck disable=SC2086
check "$man/zemprix-boxsim.1" option $options
for status in $(sed -n '/^Exit status/,$p' <<<"$help" | grep -oE '\b[0-9]\b' | sort -u); do
  tags "$man/zemprix-boxsim.1" | grep -qE "^$status\b" ||
    { echo "FAIL: zemprix-boxsim.1 has no entry for exit status $status"; failures=$((failures + 1)); }
done

[ $failures -eq 0 ] && echo "manual pages cover --help" || echo "$failures missing"
[ $failures -eq 0 ]
