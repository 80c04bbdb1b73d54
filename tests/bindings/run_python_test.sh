#!/bin/sh
# Installs the Python binding the way the README tells users to without
# network access (pip, no build isolation, no index: the build backend is the
# system's setuptools) into a fresh directory, then runs the test program
# against that installed copy.
#
#   run_python_test.sh PACKAGE_DIR WORK_DIR TEST_PROGRAM PYTHON [RUN_PYTHON...]
#
# PYTHON installs; RUN_PYTHON (default PYTHON) runs the test: the package is
# pure Python, so a target's interpreter under its emulator can run what the
# build machine's installed. Without pip, setuptools or wheel for PYTHON it
# prints a SKIP line and succeeds (CTest reports the test as skipped).
set -eu
package=$1 work=$2 test=$3 python=$4
shift 3

if ! "$python" -c 'import importlib.util as u, sys
sys.exit(any(u.find_spec(m) is None for m in ("pip", "setuptools", "wheel")))'; then
    echo "SKIP: $python lacks pip, setuptools or wheel (Debian: python3-pip python3-setuptools python3-wheel)"
    exit 0
fi
rm -rf "$work"
mkdir -p "$work"
# pip builds in the directory it is given and leaves build/ and *.egg-info
# there: a copy keeps the source tree clean.
cp -R "$package" "$work/source"
"$python" -m pip --isolated install --quiet --no-build-isolation --no-index --no-cache-dir \
    --disable-pip-version-check --root-user-action=ignore --target "$work/site" "$work/source"
[ $# -gt 1 ] && shift
PYTHONPATH=$work/site TOLVANE_TEST_DIR=$work exec "$@" -s "$test"
