#!/usr/bin/env python3
"""The kit's import libraries for the MSVC dialect against mingw-w64's, which
the GNU dialect links: every symbol either one defines must be imported from
the same DLL, by the same name, as the same kind (function or data).

  import_names.py GNU_IMPORT_LIBRARY MSVC_IMPORT_LIBRARY

Prints one line per difference (ten at most), then "N symbols imported
alike" or "N of M symbols imported differently" (exit 1); a library it
cannot read is one line and exit 2.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "image", "kernel_imports"))
from import_library import Unreadable, gnu_bindings, msvc_bindings  # noqa: E402


def main(argv):
    if len(argv) != 3:
        print(f"usage: {argv[0]} GNU_IMPORT_LIBRARY MSVC_IMPORT_LIBRARY", file=sys.stderr)
        return 2
    try:
        gnu, msvc = gnu_bindings(argv[1]), msvc_bindings(argv[2])
    except (OSError, Unreadable) as e:
        print(f"import_names: {e}", file=sys.stderr)
        return 2
    symbols = sorted(set(gnu) | set(msvc))
    differ = [s for s in symbols if gnu.get(s) != msvc.get(s)]
    for s in differ[:10]:
        print(f"{s}: {os.path.basename(argv[1])} imports {gnu.get(s)}, {os.path.basename(argv[2])} {msvc.get(s)}")
    if differ:
        print(f"{len(differ)} of {len(symbols)} symbols imported differently")
        return 1
    print(f"{len(symbols)} symbols imported alike")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
