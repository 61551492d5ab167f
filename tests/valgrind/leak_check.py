#!/usr/bin/python3
"""Runs a program under valgrind's memcheck and fails on every error or leak
that passes through this program's own code.

    leak_check.py [--suppressions FILE] [--expect-exit N] -- PROGRAM ARGS...

An argument @SCRATCH@ is replaced by a new empty folder. "Our code" is any
stack frame in a function of the corvanta namespace (tests included): a
leak of a pixbuf we forgot to release shows our caller above gdk-pixbuf's
allocation. Errors and leaks whose stacks never reach our code (the dynamic
loader, GTK's start-up) are counted in the summary line, not failed. A
system library's cache that our calls happen to fill first is listed in the
suppression file, each with its reason.
"""
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

LEAK_KINDS = ("Leak_DefinitelyLost", "Leak_IndirectlyLost")


def main(argv):
    suppressions = []
    expected_exit = 0
    while argv and argv[0] != "--":
        if argv[0] == "--suppressions" and len(argv) > 1:
            suppressions.append(argv[1])
            argv = argv[2:]
        elif argv[0] == "--expect-exit" and len(argv) > 1:
            expected_exit = int(argv[1])
            argv = argv[2:]
        else:
            print(f"leak_check: unknown option {argv[0]}", file=sys.stderr)
            return 2
    command = argv[1:]
    if not command:
        print("leak_check: no program given", file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory() as scratch:
        os.mkdir(os.path.join(scratch, "out"))
        command = [os.path.join(scratch, "out") if a == "@SCRATCH@" else a for a in command]
        xml_path = os.path.join(scratch, "memcheck.xml")
        valgrind = ["valgrind", "--tool=memcheck", "--leak-check=full",
                    "--show-leak-kinds=definite,indirect", "--num-callers=50",
                    "--xml=yes", f"--xml-file={xml_path}", "--child-silent-after-fork=yes"]
        valgrind += [f"--suppressions={s}" for s in suppressions]
        run = subprocess.run(valgrind + command)
        if run.returncode != expected_exit:
            print(f"leak_check: the program ended with status {run.returncode}, "
                  f"not {expected_exit}")
            return 1
        root = ET.parse(xml_path).getroot()

    ours, theirs = [], 0
    for error in root.iter("error"):
        kind = error.findtext("kind", "")
        stack = error.find("stack")
        names = [f.findtext("fn", "") for f in stack.iter("frame")] if stack is not None else []
        if any(n.startswith("corvanta::") for n in names):
            ours.append(error)
        else:
            theirs += 1
    for error in ours:
        what = error.find("xwhat")
        text = what.findtext("text") if what is not None else error.findtext("what", "")
        print(f"{error.findtext('kind')}: {text}")
        for frame in error.find("stack").iter("frame"):
            fn = frame.findtext("fn", "?")
            where = frame.findtext("file")
            line = frame.findtext("line")
            print(f"    {fn}" + (f" ({where}:{line})" if where else f" [{frame.findtext('obj', '')}]"))
    leaks = sum(1 for e in ours if e.findtext("kind") in LEAK_KINDS)
    print(f"leak_check: {len(ours)} errors in our code ({leaks} leaks); "
          f"{theirs} left to system libraries")
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
