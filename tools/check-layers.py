#!/usr/bin/env python3
"""check-layers.py [ROOT]: each folder of the player includes only its own headers and those
of the folders it depends on, as its CMakeLists.txt declares them (ombrix_NAME among the
libraries it links), directly or through them. Declared dependencies follow the order of the
top-level CMakeLists.txt's list of subsystems: a folder links only folders before it. Prints
one line per offence and exits 1 when there is any.

The declarations are the build's own, so what this accepts is what the linker accepts: an
include the check refuses is a sideways or upward link, to be met by a hook or an interface
owned by the lower folder."""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/', re.M)
LIBRARY = re.compile(r'\bombrix_([A-Za-z0-9_]+)\b')
ORDER = re.compile(r'foreach\(dir ([^)]*)\)')
SOURCES = ('.h', '.hpp', '.cpp', '.c', '.inl')


def layers(root):
    """The subsystems in layering order, then folders that stand apart (host, server)."""
    with open(os.path.join(root, 'CMakeLists.txt')) as f:
        match = ORDER.search(f.read())
    if not match:
        raise SystemExit('check-layers: no subsystem list in the top-level CMakeLists.txt')
    order = match.group(1).split()
    return order + [d for d in ('server',) if os.path.isdir(os.path.join(root, d))]


def declared(root, folder, folders):
    with open(os.path.join(root, folder, 'CMakeLists.txt')) as f:
        text = re.sub(r'#.*', '', f.read())
    return {name for name in LIBRARY.findall(text) if name in folders and name != folder}


def check(root):
    order = layers(root)
    folders = set(order)
    direct = {folder: declared(root, folder, folders) for folder in order}
    problems = []
    for folder in order:
        for dep in sorted(direct[folder]):
            if order.index(dep) > order.index(folder):
                problems.append(f'{folder}/CMakeLists.txt: links {dep}, which comes after it in the layering order')
    reach = {}
    for folder in order:
        seen, todo = set(), list(direct[folder])
        while todo:
            dep = todo.pop()
            if dep not in seen:
                seen.add(dep)
                todo.extend(direct[dep])
        reach[folder] = seen | {folder}
    for folder in order:
        for base, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not name.endswith(SOURCES):
                    continue
                path = os.path.join(base, name)
                with open(path, errors='replace') as f:
                    text = f.read()
                for match in INCLUDE.finditer(text):
                    target = match.group(1)
                    if target in folders and target not in reach[folder]:
                        line = text.count('\n', 0, match.start()) + 1
                        problems.append(f'{os.path.relpath(path, root)}:{line}: includes {target}/, '
                                        f'which {folder}/ does not depend on')
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
    problems = check(root)
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
