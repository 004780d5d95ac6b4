"""What an i386 import library binds each symbol to, read from the archive.

A linker resolving a symbol against an import library writes, in the image's
import table, a DLL's name and a name to import from it (or an ordinal), as
a function or as data.  Two forms of import library say so differently:

- GNU (dlltool's long form, mingw-w64's libntoskrnl.a): one COFF object per
  symbol, defining the symbol and __imp_symbol (only __imp_ for data), with
  the name to import in its .idata$6 (a 2-byte hint, then the name); the
  DLL's name is in the .idata$7 of the tail object, which defines
  __lib..._iname.
- MSVC (lib.exe's, llvm-dlltool's): a 20-byte header per symbol (signatures
  0 and 0xFFFF, the kind and name type in its last two bytes), then the
  symbol and the DLL's name; the name to import follows from the symbol by
  the name type.  An alias is a COFF object whose weak external names the
  symbol it stands for.

gnu_bindings(path) and msvc_bindings(path) give {symbol: (dll, name, kind)}
with kind "code" or "data"; a file that is neither raises Unreadable.
"""
import struct


class Unreadable(Exception):
    pass


def members(path):
    """The archive's members' contents, without its symbol and long-name
    tables."""
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(b"!<arch>\n"):
        raise Unreadable(f"{path}: not an archive")
    at = 8
    while at + 60 <= len(data):
        header = data[at:at + 60]
        if header[58:60] != b"`\n":
            raise Unreadable(f"{path}: a bad member header at byte {at}")
        name = header[0:16].decode("latin-1").rstrip()
        size = int(header[48:58].decode("ascii").strip())
        if name not in ("/", "//", "/SYM64/"):
            yield data[at + 60:at + 60 + size]
        at += 60 + size + (size & 1)


def coff_object(body):
    """A COFF object's sections {name: contents} and its symbols, each
    (name, section number, storage class, auxiliary bytes)."""
    count, _, table, nsyms, optional = struct.unpack_from("<HIIIH", body, 2)
    strings = table + 18 * nsyms

    def name_of(raw):
        if raw[0:4] == b"\0\0\0\0":
            at = strings + struct.unpack_from("<I", raw, 4)[0]
            return body[at:body.index(b"\0", at)].decode()
        return raw.rstrip(b"\0").decode()

    sections = {}
    for i in range(count):
        at = 20 + optional + 40 * i
        size, pointer = struct.unpack_from("<II", body, at + 16)
        sections[body[at:at + 8].rstrip(b"\0").decode()] = body[pointer:pointer + size] if pointer else b""
    symbols = []
    i = 0
    while i < nsyms:
        at = table + 18 * i
        section, _, storage, aux = struct.unpack_from("<hHBB", body, at + 12)
        symbols.append((name_of(body[at:at + 8]), section, storage, body[at + 18:at + 18 + 18 * aux]))
        # Auxiliary records take symbol indices too.
        symbols.extend([("", 0, 0, b"")] * aux)
        i += 1 + aux
    return sections, symbols


EXTERNAL = 2
WEAK_EXTERNAL = 105


def gnu_bindings(path):
    dll = None
    entries = []
    for body in members(path):
        sections, symbols = coff_object(body)
        defined = [name for name, section, storage, _ in symbols if storage == EXTERNAL and section > 0]
        if any(name.endswith("_iname") for name in defined):
            dll = sections[".idata$7"].split(b"\0")[0].decode()
            continue
        imps = [name[len("__imp_"):] for name in defined if name.startswith("__imp_")]
        if len(imps) != 1 or not sections.get(".idata$6"):
            continue  # the head object, or a symbol imported by ordinal
        name = sections[".idata$6"][2:].split(b"\0")[0].decode()
        entries.append((imps[0], name, "code" if imps[0] in defined else "data"))
    if dll is None:
        raise Unreadable(f"{path}: no DLL name (no __lib..._iname object): not a GNU import library")
    return {symbol: (dll, name, kind) for symbol, name, kind in entries}


def imported_name(symbol, name_type):
    """The name an MSVC short import imports its symbol by: 1 the symbol
    itself, 2 without its prefix (?, @ or _), 3 also cut at the first @."""
    if name_type == 1:
        return symbol
    name = symbol[1:] if symbol[:1] in ("?", "@", "_") else symbol
    return name.split("@")[0] if name_type == 3 else name


def msvc_bindings(path):
    bound = {}
    aliases = {}
    for body in members(path):
        if body[0:4] == b"\0\0\xff\xff":
            kind_bits = struct.unpack_from("<H", body, 18)[0]
            symbol, dll = (s.decode() for s in body[20:].split(b"\0")[0:2])
            name_type, kind = (kind_bits >> 2) & 7, kind_bits & 3
            if name_type == 0 or kind > 1:
                raise Unreadable(f"{path}: {symbol} imported by ordinal or as a constant")
            bound[symbol] = (dll, imported_name(symbol, name_type), ("code", "data")[kind])
            continue
        _, symbols = coff_object(body)
        for name, _, storage, aux in symbols:
            if storage == WEAK_EXTERNAL:
                aliases[name] = symbols[struct.unpack_from("<I", aux, 0)[0]][0]
    # Each alias comes twice, for the symbol and for its __imp_ pointer, and
    # the two must agree.
    stands_for = {}
    for alias, target in aliases.items():
        pointer = alias.startswith("__imp_")
        if pointer:
            alias, target = alias[len("__imp_"):], target[len("__imp_"):] if target.startswith("__imp_") else None
        if target not in bound or stands_for.setdefault(alias, target) != target:
            raise Unreadable(f"{path}: {alias} stands for {target}, which it does not import")
    for alias, target in stands_for.items():
        bound[alias] = bound[target]
    return bound
