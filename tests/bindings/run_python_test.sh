#!/bin/sh
# Installs the wheel as its users do, offline, then runs the test program
# against that installed copy with nothing else pointing at a library (no
# LD_LIBRARY_PATH, no TOLVANE_LIBRARY): it must load the one inside.
#
#   run_python_test.sh WHEEL_DIR WORK_DIR TEST_PROGRAM venv PYTHON
#   run_python_test.sh WHEEL_DIR WORK_DIR TEST_PROGRAM target RUN_PYTHON...
#
# venv: into a fresh venv of PYTHON (no system site packages), by its pip.
# target: a target's interpreter under its emulator, which has no venv, runs
# Debian's pip wheel (python3-pip-whl) itself, so that its own pip decides
# whether the wheel's tag fits that machine, and installs into a directory.
set -eu
wheel=$(echo "$1"/tolvane-*.whl)
work=$2 test=$3 mode=$4
shift 4
unset LD_LIBRARY_PATH TOLVANE_LIBRARY
rm -rf "$work"
mkdir -p "$work"
export TOLVANE_TEST_DIR="$work"
quiet="--quiet --no-index --no-cache-dir --disable-pip-version-check"
if [ "$mode" = venv ]; then
    "$1" -m venv "$work/venv"
    # shellcheck disable=SC2086
    "$work/venv/bin/pip" install $quiet "$wheel"
    exec "$work/venv/bin/python" -s "$test"
fi
pip=$(echo /usr/share/python-wheels/pip-*.whl)
# shellcheck disable=SC2086
"$@" "$pip/pip" install $quiet --target "$work/site" "$wheel"
PYTHONPATH=$work/site exec "$@" -s "$test"
