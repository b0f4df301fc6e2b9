#!/usr/bin/env python3
"""Turns files into C++ byte arrays for the executable.

Usage: embed.py OUT_DIR NAME=PATH ...
Writes OUT_DIR/res_NAME.cpp per file and OUT_DIR/resource_table.cpp, which
lists them for findEmbeddedResource()."""
import os
import sys


def write_if_changed(path, text):
    try:
        with open(path, encoding='utf-8') as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(path, 'w', encoding='utf-8') as f:
        f.write(text)


def main():
    out_dir = sys.argv[1]
    names = []
    for arg in sys.argv[2:]:
        name, path = arg.split('=', 1)
        with open(path, 'rb') as f:
            data = f.read()
        lines = []
        for i in range(0, len(data), 24):
            lines.append(','.join(str(b) for b in data[i:i + 24]))
        body = ',\n'.join(lines) if data else '0'
        text = ('// Generated from %s; do not edit.\n#include <cstddef>\n'
                'extern const unsigned char kRes_%s[];\n'
                'extern const std::size_t kResSize_%s;\n'
                'alignas(16) const unsigned char kRes_%s[] = {\n%s\n};\n'
                'const std::size_t kResSize_%s = %d;\n'
                % (os.path.basename(path), name, name, name, body, name, len(data)))
        write_if_changed(os.path.join(out_dir, 'res_%s.cpp' % name), text)
        names.append(name)
    decls = ''.join('extern const unsigned char kRes_%s[];\nextern const std::size_t kResSize_%s;\n'
                    % (n, n) for n in names)
    rows = ''.join('    {"%s", kRes_%s, kResSize_%s},\n' % (n, n, n) for n in names)
    table = ('// Generated; do not edit.\n#include "resources/embedded.h"\n\n%s\n'
             'const EmbeddedResource kEmbeddedResources[] = {\n%s};\n'
             'const std::size_t kEmbeddedResourceCount = %d;\n' % (decls, rows, len(names)))
    write_if_changed(os.path.join(out_dir, 'resource_table.cpp'), table)


if __name__ == '__main__':
    main()
