#!/usr/bin/env python3
"""Prints a public header with its comments as Doxygen reads them.

The headers keep one plain comment style: the comment block that opens a
header (before any include or declaration) describes the file; any other //
block right above a declaration documents it, and a // after a member or an
enumerator on its line documents that member. This filter turns these into
/// \\file, /// and ///< comments, so the sources need no Doxygen markup,
and drops the export macros from declarations.
"""
import re
import sys

LEADING = re.compile(r"^(\s*)//(?!/)")
TRAILING = re.compile(r"([;,])(\s+)//(?!/)")
# Export macros (ZELT_API and the like) say nothing a reader needs.
EXPORT_MACRO = re.compile(r"\b[A-Z][A-Z0-9_]*_API\b ?")


def main():
    opening = True  # nothing but #pragma once and blank lines read yet
    with open(sys.argv[1], encoding="utf-8") as header:
        for line in header:
            if LEADING.match(line):
                if opening:
                    sys.stdout.write("/// \\file\n")
                    opening = None  # inside the opening block
                line = LEADING.sub(r"\1///", line, count=1)
            else:
                if opening is None or line.strip() not in ("", "#pragma once"):
                    opening = False  # the opening block, if any, is over
                line = TRAILING.sub(r"\1\2///<", line, count=1)
                if not line.lstrip().startswith("#"):
                    line = EXPORT_MACRO.sub("", line)
            sys.stdout.write(line)


if __name__ == "__main__":
    main()
