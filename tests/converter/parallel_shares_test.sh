#!/bin/sh
# docs/tolvane.md's recipe for spreading one archive over several machines, run
# with GNU parallel's local execution ("-S 4/:": four job slots on this
# machine, as four hosts would be): 2000 files in 4 shares, each share one
# batch run of tolvane reading its part of the list on standard input, all
# writing into one directory. Every output must be the same bytes as one
# batch run over the whole list gives, and none may be missing or extra. A
# share with a file that fails must show in parallel's exit status (the
# number of failed shares) and in its job log.
#
# usage: parallel_shares_test.sh TOLVANE
# Exits 77 (skipped) without GNU parallel.
set -eu
tolvane=$1
if ! parallel --version 2>/dev/null | grep -q '^GNU parallel'; then
    echo "SKIP: GNU parallel (Debian package parallel) is not installed"
    exit 77
fi
scratch=/dev/shm
[ -d "$scratch" ] && [ -w "$scratch" ] || scratch=${TMPDIR:-/tmp}
work=$(mktemp -d "$scratch/tolvane-parallel.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# 2000 short inputs, each different, in 20 directories.
python3 - "$work/archive" <<'EOF'
import os, random, struct, sys
root = sys.argv[1]
rng = random.Random(2000)
for i in range(2000):
    directory = os.path.join(root, "day%02d" % (i % 20))
    os.makedirs(directory, exist_ok=True)
    samples = rng.randrange(0, 9000)
    data = rng.randbytes(samples * 2)
    header = (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE" + b"fmt "
              + struct.pack("<IHHIIHH", 16, 1, 1, 8000, 16000, 2, 16) + b"data" + struct.pack("<I", len(data)))
    with open(os.path.join(directory, "take%04d.wav" % i), "wb") as stream:
        stream.write(header + data)
EOF
find "$work/archive" -name '*.wav' | sort >"$work/list"
mkdir "$work/single" "$work/shared"

"$tolvane" stretch --files-from "$work/list" -o "$work/single" >/dev/null 2>"$work/single.err" ||
    { cat "$work/single.err"; fail "the single batch run"; }

# The recipe, with "-S 4/:" in place of the hosts.
parallel --pipepart -a "$work/list" --block -1 -S 4/: --joblog "$work/joblog" --tagstring 'share {#}' \
    "$tolvane" stretch --files-from - -o "$work/shared" >"$work/shares.out" 2>&1 ||
    { cat "$work/shares.out"; fail "parallel exit status $?"; }
[ "$(tail -n +2 "$work/joblog" | wc -l)" -eq 4 ] || { cat "$work/joblog"; fail "not 4 shares"; }
[ "$(grep -c 'Time stretch effect applied' "$work/shares.out")" -eq 2000 ] || fail "not 2000 conversions"
[ "$(find "$work/shared" -type f | wc -l)" -eq 2000 ] || fail "not 2000 outputs"
diff -r "$work/single" "$work/shared" >/dev/null || fail "the shares' outputs differ from the single run's"

# One missing file in the second of four shares: that share, and only that
# one, fails; the others' files are still converted.
head -n 100 "$work/list" | sed "40i $work/archive/missing.wav" >"$work/list-with-missing"
rm -rf "$work/shared" && mkdir "$work/shared"
status=0
parallel --pipepart -a "$work/list-with-missing" --block -1 -S 4/: --joblog "$work/joblog-missing" \
    --tagstring 'share {#}' "$tolvane" stretch --files-from - -o "$work/shared" >"$work/shares.out" 2>&1 ||
    status=$?
[ $status -eq 1 ] || fail "parallel exit status $status with one failed share"
[ "$(awk 'NR > 1 && $7 != 0' "$work/joblog-missing" | wc -l)" -eq 1 ] || { cat "$work/joblog-missing"; fail "job log"; }
grep -q "^share 2	.*could not convert $work/archive/missing.wav" "$work/shares.out" ||
    { cat "$work/shares.out"; fail "the failed share does not name the file"; }
[ "$(find "$work/shared" -type f | wc -l)" -eq 100 ] || fail "the other files were not all converted"
echo "PASS: 2000 files in 4 shares by GNU parallel, the same bytes as one batch; a failed share shows"
