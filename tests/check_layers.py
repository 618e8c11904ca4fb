#!/usr/bin/env python3
"""check_layers.py: the plug-in's folders are layers. Every #include of production code may
reach its own folder, the folders below it and include/; an include of a folder above, or of
one outside the table, fails the check, and so does a production file over 500 lines.

Usage: check_layers.py [REPOSITORY_ROOT]"""
import os
import re
import sys

# Bottom up: each folder uses only the folders before it.
LAYERS = [
    "platform",  # the thin OS layer and its two backends
    "wire",      # byte order, the entry command datagram, the memo frame
    "core",      # the plug-in state, settings, error log, workers' bookkeeping
    "store",     # the entry list, the group tables, the instance owning them
    "files",     # the administrator's files: node list, access list
    "net",       # sockets and the socket event dispatcher
    "hostview",  # the host's view of the entry list, with the node list merged in
    "services",  # presence and memos
    "ui",        # the dialogs
    "plugin",    # the lifecycle and the exports
]
SHARED = {"include"}  # the host-facing header, usable from every layer
MAX_LINES = 500
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def is_production(name):
    if not name.endswith((".cc", ".h")):
        return False
    return not any(tag in name for tag in ("_test", "test_", "for_test", "_bench", "_fuzz"))


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    rank = {name: i for i, name in enumerate(LAYERS)}
    faults = []
    files = 0
    for layer in LAYERS:
        for folder, _, names in os.walk(os.path.join(root, layer)):
            for name in sorted(names):
                if not is_production(name):
                    continue
                path = os.path.join(folder, name)
                shown = os.path.relpath(path, root)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                files += 1
                lines = text.count("\n")
                if lines > MAX_LINES:
                    faults.append("%s: %d lines (at most %d)" % (shown, lines, MAX_LINES))
                for target in INCLUDE.findall(text):
                    if "/" not in target:
                        if target in ("peerbeacon.h",) or os.path.exists(os.path.join(folder, target)):
                            continue
                        faults.append("%s: includes \"%s\", not a path from the top" % (shown, target))
                        continue
                    top = target.split("/")[0]
                    if top in SHARED or top == layer:
                        continue
                    if top not in rank:
                        faults.append("%s: includes \"%s\" outside the layers" % (shown, target))
                    elif rank[top] > rank[layer]:
                        faults.append("%s: includes \"%s\", a layer above %s/" % (shown, target, layer))
    if files == 0:
        print("check_layers: no production files found under %s" % root)
        return 1
    for fault in faults:
        print(fault)
    print("check_layers: %d production files, %d faults" % (files, len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
