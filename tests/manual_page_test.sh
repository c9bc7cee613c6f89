#!/usr/bin/env bash
# Renders the manual page with every troff warning on; fails on any warning
# or when a section the page must have is missing.
# Usage: manual_page_test.sh PATH_TO_PAGE
set -u
page=$1
warnings_file=$(mktemp)
rendered=$(MANWIDTH=80 man --warnings=w -E UTF-8 -l "$page" 2>"$warnings_file")
warnings=$(cat "$warnings_file")
rm -f "$warnings_file"
if [ -n "$warnings" ]; then
  printf 'warnings while rendering %s:\n%s\n' "$page" "$warnings"
  exit 1
fi
for section in NAME SYNOPSIS DESCRIPTION "START VALUE" OUTPUT "PIPES AND FILES" SIGNALS "EXIT STATUS" EXAMPLES; do
  if ! grep -qx "$section" <<<"$rendered"; then
    printf 'section %s missing\n' "$section"
    exit 1
  fi
done
echo "manual page renders without warnings"
