#!/usr/bin/python3
# Checks, from an installed tree, that the consumer program EveryClass.cpp
# builds every class of the installed headers through each of its public
# constructors, so that a class or constructor added later without a line
# there fails the consumer step. Reads the C++ with libclang (python3-clang-14).
#   CheckEveryClass.py PREFIX PROGRAM
import pathlib
import sys
import tempfile

import clang.cindex as ci

ci.Config.set_library_file("/usr/lib/llvm-14/lib/libclang.so.1")
# Cursor kinds by number: this libclang knows kinds its Python binding does not.
NAMESPACE, STRUCT, CLASS, VARIABLE, CONSTRUCTOR, CALL = 22, 2, 4, 9, 24, 103


def parse(path, include):
    unit = ci.Index.create().parse(path, args=["-x", "c++", "-std=c++20", "-I" + include])
    errors = [str(d) for d in unit.diagnostics if d.severity >= ci.Diagnostic.Error]
    if errors:
        sys.exit("cannot read %s:\n%s" % (path, "\n".join(errors)))
    return unit


def classes(parent, include):
    """Classes and structs defined in the installed headers (not in std), nested public ones included."""
    for cursor in parent.get_children():
        where = cursor.location.file
        if where is None or not where.name.startswith(include):
            continue
        if cursor._kind_id == NAMESPACE:
            yield from classes(cursor, include)
        elif cursor._kind_id in (CLASS, STRUCT) and cursor.is_definition() \
                and not cursor.type.spelling.startswith("std::"):  # std::hash<Base::String> and the like
            if parent._kind_id in (CLASS, STRUCT) and cursor.access_specifier != ci.AccessSpecifier.PUBLIC:
                continue
            if not cursor.is_abstract_record():
                yield cursor
            yield from classes(cursor, include)


def is_deleted(constructor):
    return "delete" in [token.spelling for token in constructor.get_tokens()][-3:]


def wanted(header_unit, include):
    """USR -> description of what the program must build: each public constructor
    (copies and moves aside), or the class itself when it declares none."""
    want = {}
    for cls in classes(header_unit.cursor, include):
        constructors = [c for c in cls.get_children() if c._kind_id == CONSTRUCTOR]
        if not constructors:
            want[cls.get_usr()] = cls.type.spelling
        for c in constructors:
            if c.access_specifier == ci.AccessSpecifier.PUBLIC and not is_deleted(c) \
                    and not c.is_copy_constructor() and not c.is_move_constructor():
                want[c.get_usr()] = "%s::%s" % (cls.type.spelling, c.displayname)
    return want


def built(program_unit, program):
    """USRs of the constructors the program calls and of the classes it declares variables of."""
    seen = set()
    own = (top for top in program_unit.cursor.get_children()
           if top.location.file is not None and top.location.file.name == program)
    for cursor in (c for top in own for c in top.walk_preorder()):
        kind = cursor._kind_id
        if kind == CALL and cursor.referenced is not None and cursor.referenced._kind_id == CONSTRUCTOR:
            seen.add(cursor.referenced.get_usr())
        elif kind == VARIABLE:
            declaration = cursor.type.get_canonical().get_declaration()
            if declaration is not None:
                seen.add(declaration.get_usr())
    return seen


def main(prefix, program):
    include = prefix.rstrip("/") + "/include"
    headers = sorted(str(p.relative_to(include)) for p in pathlib.Path(include).rglob("*.h"))
    with tempfile.NamedTemporaryFile("w", suffix=".cpp") as every_header:
        every_header.write("".join("#include <%s>\n" % h for h in headers))
        every_header.flush()
        want = wanted(parse(every_header.name, include), include)
    seen = built(parse(program, include), program)
    missing = sorted(name for usr, name in want.items() if usr not in seen)
    if missing:
        sys.exit("%s does not build these (add a line for each):\n  %s" % (program, "\n  ".join(missing)))
    print("%d public constructors and classes of %d installed headers, each built by %s"
          % (len(want), len(headers), program.split("/")[-1]))


if __name__ == "__main__":
    main(*sys.argv[1:])
