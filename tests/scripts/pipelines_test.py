#!/usr/bin/env python3
"""The project's shell scripts hold no pipeline whose reader may stop early.

Under `set -o pipefail` a pipeline fails when any of its commands does, and
a reader that stops at its first match (grep -q, -m, -l; head; sed ...q)
lets the writer die of SIGPIPE: the test then fails at random although it
matched. Every script in scripts/ and .ci/ runs under pipefail or is sourced
by one that does; of tests/, those that set it. Also runs shellcheck over
scripts/ and .ci/ where it is installed.

usage: pipelines_test.py SOURCE_DIR
"""
import pathlib
import re
import shutil
import subprocess
import sys

EARLY_READER = re.compile(
    r"(?<![|])\|(?![|])\s*("
    r"grep\s+(?:[^|;&]*\s)?(?:-[a-zA-Z]*[qlmL][a-zA-Z0-9]*|--quiet|--silent|--max-count|--files-with)"
    r"|head\b"
    r"|sed\s+(?:-n\s+)?['\"]?[0-9/^$\\.*a-z]*q"
    r")")


def logical_lines(text):
    """Lines with their continuations (a trailing \\ or |) joined."""
    number, pending = 0, ""
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.split(" #", 1)[0].rstrip() if not line.lstrip().startswith("#") else ""
        if stripped.endswith("\\"):
            pending += stripped[:-1] + " "
            continue
        if stripped.endswith("|") and not stripped.endswith("||"):
            pending += stripped + " "
            continue
        yield number, pending + stripped
        pending = ""
    if pending:
        yield number, pending


def findings(path):
    text = path.read_text(encoding="utf-8", errors="replace")
    return [(n, line.strip()) for n, line in logical_lines(text) if EARLY_READER.search(line)]


def shell_scripts(root):
    for folder in ("scripts", ".ci"):
        for path in sorted((root / folder).iterdir()):
            if path.is_file() and (path.suffix == ".sh" or path.read_text(errors="replace").startswith("#!")):
                if path.suffix != ".py":
                    yield path, True
    for path in sorted((root / "tests").rglob("*.sh")):
        yield path, "pipefail" in path.read_text(errors="replace")


def main():
    root = pathlib.Path(sys.argv[1])
    # The pattern itself, on what it must and must not catch.
    assert EARLY_READER.search('dpkg --print-foreign-architectures | grep -qx "$arch"')
    assert EARLY_READER.search("ls | head -n 1") and EARLY_READER.search("x | grep -m 1 y")
    assert not EARLY_READER.search('grep -q x "$file" || y') and not EARLY_READER.search("a | grep -v b")

    failed = False
    checked = []
    for path, under_pipefail in shell_scripts(root):
        if not under_pipefail:
            continue
        checked.append(path)
        for number, line in findings(path):
            print(f"FAIL: {path.relative_to(root)}:{number}: a reader that may stop early, under pipefail: {line}")
            failed = True
    print(f"checked {len(checked)} scripts for early-ending readers in pipelines")

    shellcheck = shutil.which("shellcheck")
    if shellcheck:
        scripts = [str(p) for p in checked if p.parts[len(root.parts)] in ("scripts", ".ci")]
        result = subprocess.run([shellcheck, "-x", "-P", "SCRIPTDIR", *scripts], cwd=root)
        if result.returncode != 0:
            print("FAIL: shellcheck found the above in scripts/ and .ci/")
            failed = True
    else:
        print("SKIP: shellcheck is not installed (Debian package shellcheck): only the pipeline check ran")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
