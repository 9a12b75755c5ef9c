#!/usr/bin/env bash
# checkManPage.sh TOOL PAGE
# The manual page renders without a warning from man or groff, and names
# every option the tool's --help lists (on its option and usage lines).
# Exit status 77: skipped (no man on this machine).
set -euo pipefail
tool=$1 page=$2
command -v man >/dev/null || { echo "SKIP: man is not installed"; exit 77; }
fail() { echo "FAIL: $page: $*" >&2; exit 1; }

warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "warnings while rendering:"$'\n'"$warnings"

# Wide enough that no option is broken across lines.
text=$(MANWIDTH=400 man -l "$page" 2>/dev/null | col -b)
help=$("$tool" --help 2>&1 || true)
options=$(grep -E '^ {1,8}-|^ *[Uu]sage:' <<<"$help" |
  grep -oE '(^|[][ ,|(])--?[a-zA-Z][a-zA-Z-]*' | sed 's/^[][ ,|(]//' | sort -u)
[ -n "$options" ] || fail "no option found in '$tool --help'"
missing=""
for option in $options; do
  grep -qE -- "(^|[^a-zA-Z-])$option([^a-zA-Z-]|\$)" <<<"$text" || missing+=" $option"
done
[ -z "$missing" ] || fail "options of --help missing from the page:$missing"
echo "$page: $(wc -w <<<"$options") options of --help, no warnings"
