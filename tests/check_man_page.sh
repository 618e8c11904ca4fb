#!/usr/bin/env bash
# check_man_page.sh: the manual page and the --help text name every command and option the host has.
#
#   check_man_page.sh SOURCE_DIR
#
# The names are read from the host's own sources (the command table and the option parser), so
# a command or option added without its documentation fails here. Exit 0: passed; 1: failed,
# with the missing names on standard error.
set -euo pipefail

src=${1:?usage: check_man_page.sh SOURCE_DIR}
man_page=$src/docs/peerbeacon-host.1
options_source=$src/host/options.cc
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Command table rows open with the command's name: {"name",
mapfile -t commands < <(grep -oE '^[[:space:]]*\{"[a-z][a-z0-9-]*",' "$src/host/command_table.cc" |
                        sed -E 's/^[[:space:]]*\{"([^"]*)",/\1/')
# A table that this pattern no longer reads must not pass as "nothing undocumented".
[ "${#commands[@]}" -ge 10 ] || fail "read only ${#commands[@]} commands from the command table"
for name in "${commands[@]}"; do
  # A command is documented by a tagged paragraph whose first word is its name.
  grep -qE "^\.B[IR]?[[:space:]]+\"?${name}([[:space:]\"]|$)" "$man_page" ||
    fail "command '$name' has no entry in docs/peerbeacon-host.1"
done

# Options are compared in the parser: arg == "--name"
mapfile -t options < <(grep -oE 'arg == "--?[a-z][a-z-]*"' "$options_source" |
                       sed -E 's/arg == "(.*)"/\1/')
[ "${#options[@]}" -ge 5 ] || fail "read only ${#options[@]} options from the option parser"
usage=$(sed -n '/^const char kUsage\[\] =/,/;$/p' "$options_source")
for option in "${options[@]}"; do
  roff=${option//-/\\-}
  grep -qF -- "$roff" "$man_page" || fail "option '$option' is missing from docs/peerbeacon-host.1"
  grep -qE -- "[\" ]${option}[ ,\\]" <<<"$usage" || fail "option '$option' is missing from --help"
done

# The page must format without warnings where groff is there to say so.
if command -v groff >/dev/null; then
  warnings=$(groff -man -ww -z "$man_page" 2>&1) || true
  [ -z "$warnings" ] || fail "groff warns about docs/peerbeacon-host.1: $warnings"
fi

[ "$failures" -eq 0 ] || exit 1
echo "man page and --help name ${#commands[@]} commands and ${#options[@]} options"
