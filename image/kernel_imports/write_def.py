#!/usr/bin/env python3
"""Writes a definition file for llvm-dlltool from one of mingw-w64's kernel
import libraries, so that the import library made from it for the MSVC
dialect binds every symbol to the same DLL and export as the GNU one:

  write_def.py libntoskrnl.a ntoskrnl.def

then: llvm-dlltool -m i386 --kill-at -d ntoskrnl.def -l ntoskrnl.lib

Each entry is the symbol as the object files name it, less the leading
underscore that llvm-dlltool adds back on i386 (Foo@12 for _Foo@12, memcpy
for _memcpy, _strlwr for __strlwr); a fastcall name (@Foo@8) is taken as it
stands, and data is marked DATA.  With --kill-at llvm-dlltool imports each by
the symbol without its prefix and cut at the first @ (Foo, memcpy, _strlwr).
Where the GNU library imports another name (its aliases: strlwr is imported
as _strlwr), the entry is an alias (strlwr == _strlwr) of the symbol whose
own name that is.  A symbol that neither gives is one line, and exit 1.
"""
import os
import sys

from import_library import Unreadable, gnu_bindings, imported_name


def entry(symbol):
    return symbol if symbol.startswith("@") else symbol[1:]


def main(argv):
    if len(argv) != 3:
        print(f"usage: {argv[0]} GNU_IMPORT_LIBRARY OUTPUT_DEF", file=sys.stderr)
        return 2
    archive, output = argv[1], argv[2]
    try:
        bound = gnu_bindings(archive)
    except (OSError, Unreadable) as e:
        print(f"write_def: {e}", file=sys.stderr)
        return 1
    dlls = {dll for dll, _, _ in bound.values()}
    if len(dlls) != 1:
        print(f"write_def: {archive}: imports from {len(dlls)} DLLs, not one", file=sys.stderr)
        return 1
    own = {}  # the symbol whose own name each import is, where one's is
    for symbol, (_, name, kind) in bound.items():
        if imported_name(symbol, 3) == name:
            own[name, kind] = symbol
    lines = [f"; Written by write_def.py from {os.path.basename(archive)}.",
             f"LIBRARY {dlls.pop()}", "EXPORTS"]
    for symbol in sorted(bound):
        _, name, kind = bound[symbol]
        if not symbol.startswith(("_", "@")):
            print(f"write_def: {archive}: {symbol} is neither a C name (_...) nor a fastcall one (@...)",
                  file=sys.stderr)
            return 1
        target = own.get((name, kind))
        if target is None:
            print(f"write_def: {archive}: {symbol} imports {name}, which no symbol of the library names",
                  file=sys.stderr)
            return 1
        line = f"  {entry(symbol)}"
        if target != symbol:
            line += f" == {entry(target)}"
        if kind == "data":
            line += " DATA"
        lines.append(line)
    with open(output, "w") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
