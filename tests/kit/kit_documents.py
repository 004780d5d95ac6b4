#!/usr/bin/env python3
"""The installed kit's documents (every *.md in it) as a team reads them.

    kit_documents.py words KIT   no line names ./run.sh or build/, which are
                                 the source tree's, not the kit's (one
                                 problem per line that does)
    kit_documents.py paths KIT   every path a document names under DIR/ (the
                                 kit's folder, as the pages call it) is in KIT;
                                 {a,b} stands for each of a and b, * for any
                                 name, and at least one file must match

Prints one line per problem, naming the document (relative to KIT) and the
line, and exits 1 when there is any; prints nothing and exits 0 otherwise.
"""
import glob
import os
import re
import sys

SOURCE_TREE_WORDS = re.compile(r"\./run\.sh|(?<![\w./-])build/")
# A path under DIR/, up to the first character no path here holds; a
# sentence's full stop or colon after it is not part of it.
KIT_PATH = re.compile(r"(?<![\w/-])DIR/[\w./{},*+-]*")


def documents(kit):
    for folder, _, files in sorted(os.walk(kit)):
        for name in sorted(files):
            if name.endswith(".md"):
                path = os.path.join(folder, name)
                yield os.path.relpath(path, kit), path


def lines(path):
    with open(path, encoding="utf-8") as f:
        yield from enumerate(f, start=1)


def expand(pattern):
    """a{b,c}d -> abd, acd (nested and repeated braces too)."""
    match = re.search(r"\{([^{}]*)\}", pattern)
    if match is None:
        return [pattern]
    head, tail = pattern[: match.start()], pattern[match.end() :]
    return [path for choice in match.group(1).split(",") for path in expand(head + choice + tail)]


def words(kit):
    for shown, path in documents(kit):
        for number, line in lines(path):
            named = sorted(set(SOURCE_TREE_WORDS.findall(line)))
            if named:
                yield f"{shown}:{number}: names {' and '.join(named)}, the source tree's, not the kit's: {line.strip()}"


def paths(kit):
    for shown, path in documents(kit):
        for number, line in lines(path):
            for match in KIT_PATH.finditer(line):
                named = match.group(0).rstrip(".:,;")
                for one in expand(named):
                    inside = os.path.join(kit, one[len("DIR/") :])
                    if not glob.glob(inside):
                        given = f" (of {named})" if one != named else ""
                        yield f"{shown}:{number}: {one}{given} is not in the kit"


def main(argv):
    checks = {"words": words, "paths": paths}
    if len(argv) != 3 or argv[1] not in checks or not os.path.isdir(argv[2]):
        print(f"usage: {argv[0]} words|paths KIT (KIT: an installed kit's folder)", file=sys.stderr)
        return 2
    problems = list(checks[argv[1]](argv[2]))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
