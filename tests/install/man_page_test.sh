#!/bin/sh
# The manual page renders without a single groff warning (all of them on, as
# lintian checks it too), and names every option and command that
# `tolvane --help` shows.
#
# usage: man_page_test.sh MAN_PAGE TOLVANE...
# (TOLVANE... may be several words: a cross-built one runs through its emulator.)
set -eu
page=$1
shift
[ -f "$page" ] || { echo "FAIL: no $page"; exit 1; }
warnings=$(LC_ALL=C.UTF-8 groff -ww -b -z -man -Tutf8 "$page" 2>&1) || true
if [ -n "$warnings" ]; then
    printf '%s\n' "$warnings"
    echo "FAIL: groff warns about $page"
    exit 1
fi
text=$(LC_ALL=C.UTF-8 groff -man -Tascii -P -cbou "$page")
missing=0
usage=$("$@" --help)
words=$(printf '%s\n' "$usage" | grep -oE '(^|[][ |])--?[a-z][a-z-]*' | sed 's/^[][ |]*//' | sort -u)
commands=$(printf '%s\n' "$usage" | sed -n 's/^ *\(usage:\)\{0,1\} *tolvane \([a-z][a-z]*\).*/\2/p' | sort -u)
[ -n "$words" ] && [ -n "$commands" ] || { echo "FAIL: no options or commands found in --help"; exit 1; }
for word in $words $commands; do
    case $text in
        *"$word"*) ;;
        *) echo "FAIL: --help shows $word, the manual page does not"; missing=1 ;;
    esac
done
exit $missing
