"""The documentation against the tree it documents: every program shown
under an `<!-- example: PATH -->` marker is that file byte for byte, every
program in examples/ is shown or linked, and every relative link leads to a
file that exists and, with a #fragment, to one of its headings.

    docs_test.py SOURCE_DIR
"""
import os
import re
import sys

root = sys.argv[1]
pages = ["README.md"] + sorted("docs/" + n for n in os.listdir(os.path.join(root, "docs")) if n.endswith(".md"))
examples = sorted(
    os.path.relpath(os.path.join(d, n), root)
    for d, _, names in os.walk(os.path.join(root, "examples"))
    for n in names
    if n.endswith((".c", ".py", ".cs"))
)
problems = []


def read(path):
    with open(os.path.join(root, path), encoding="utf-8") as f:
        return f.read()


def anchors(page):
    # GitHub's: lower case, punctuation but hyphens and underscores dropped, spaces to hyphens.
    text = re.sub(r"```.*?```", "", read(page), flags=re.S)
    return {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-") for h in re.findall(r"^#+ (.*)$", text, re.M)}


mentioned = set()
for page in pages:
    text = read(page)
    for path, block in re.findall(r"<!-- example: (\S+) -->\n```\w*\n(.*?)^```$", text, re.S | re.M):
        mentioned.add(path)
        if not os.path.isfile(os.path.join(root, path)):
            problems.append("%s shows %s, which does not exist" % (page, path))
        elif block != read(path):
            problems.append("%s shows %s other than it stands" % (page, path))
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"\w+:", target):
            continue
        path, _, fragment = target.partition("#")
        resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
        mentioned.add(resolved)
        if not os.path.exists(os.path.join(root, resolved)):
            problems.append("%s links to %s, which does not exist" % (page, target))
        elif fragment and (not resolved.endswith(".md") or fragment not in anchors(resolved)):
            problems.append("%s links to %s, which has no such heading" % (page, target))
problems += ["no page shows or links %s" % e for e in examples if e not in mentioned]

for problem in problems:
    print("FAIL:", problem)
print("%d pages, %d examples: %s" % (len(pages), len(examples), "FAIL" if problems else "PASS"))
sys.exit(1 if problems else 0)
