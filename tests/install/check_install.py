#!/usr/bin/python3
"""Checks of the installed tree: `cmake --install BUILD --prefix /usr` into a
fresh DESTDIR, then one group of checks on what landed there.

  check_install.py CHECK --build-dir DIR --cmake CMAKE --app-id ID
                   --version X.Y.Z --helper 0|1 [--bindir ... --libexecdir ...
                   --datadir ... --mandir ... --completion-dir ...]

CHECK is one of
  layout      every file in its place and nothing else; the installed
              corvanta-convert runs (--version, --list-presets); the names
              and versions the desktop files and man pages carry agree
  desktop     desktop-file-validate on the installed desktop entry
  metainfo    appstreamcli validate --no-net on the installed metainfo
  man         man --warnings on both installed man pages
  completion  the installed bash completion, driven as bash would
Exits 77 (skipped) when the tool a check needs is missing.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

SKIP = 77
ICON_SIZES = (48, 64, 128, 256)
PRESET_NAME_COLUMN = 24


class Failures:
    def __init__(self):
        self.messages = []

    def check(self, condition, message):
        if not condition:
            self.messages.append(message)
        return condition


def skip(tool):
    print(f"{tool} is not installed: skipped (scripts/install-deps.sh installs it)")
    sys.exit(SKIP)


def install(args, destdir):
    env = dict(os.environ, DESTDIR=destdir)
    result = subprocess.run([args.cmake, "--install", args.build_dir, "--prefix", "/usr"],
                            env=env, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"cmake --install failed:\n{result.stdout}{result.stderr}")


class Tree:
    """Where each installed file should be, below DESTDIR."""

    def __init__(self, args, destdir):
        def under(folder, *parts):
            return os.path.join(destdir, "usr", folder, *parts)

        self.root = destdir
        self.programs = [under(args.bindir, "corvanta"), under(args.bindir, "corvanta-convert")]
        self.helper = under(args.libexecdir, "corvanta", "corvanta-decode")
        self.desktop = under(args.datadir, "applications", args.app_id + ".desktop")
        self.metainfo = under(args.datadir, "metainfo", args.app_id + ".metainfo.xml")
        self.icons = [under(args.datadir, "icons", "hicolor", f"{n}x{n}", "apps", args.app_id + ".png")
                      for n in ICON_SIZES]
        self.man_pages = [under(args.mandir, "man1", "corvanta.1"),
                          under(args.mandir, "man1", "corvanta-convert.1")]
        # An absolute completion folder (bash-completion's own, outside the
        # prefix) lands as it is below DESTDIR.
        completions = (os.path.join(destdir, args.completion_dir.lstrip("/"))
                       if os.path.isabs(args.completion_dir) else under(args.completion_dir))
        self.completion = os.path.join(completions, "corvanta-convert")
        self.convert = self.programs[1]
        self.languages = [l for l in args.languages.split(",") if l]
        self.catalogues = [under(args.datadir, "locale", l, "LC_MESSAGES", "corvanta.mo")
                           for l in self.languages]


def desktop_entry(path):
    entry = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if "=" in line and not line.startswith("#"):
                key, value = line.rstrip("\n").split("=", 1)
                entry[key] = value
    return entry


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def check_layout(args, tree, failures):
    expected = list(tree.programs) + [tree.desktop, tree.metainfo, *tree.icons,
                                      *tree.man_pages, tree.completion, *tree.catalogues]
    if args.helper:
        expected.append(tree.helper)
    for path in expected:
        failures.check(os.path.isfile(path), f"missing: {os.path.relpath(path, tree.root)}")
    executables = set(tree.programs + ([tree.helper] if args.helper else []))
    for path in expected:
        if os.path.isfile(path):
            mode = os.stat(path).st_mode
            failures.check(bool(mode & 0o111) == (path in executables),
                           f"wrong mode {oct(mode & 0o777)}: {os.path.relpath(path, tree.root)}")
    installed = {os.path.join(folder, name)
                 for folder, _, names in os.walk(tree.root) for name in names}
    for path in sorted(installed - set(expected)):
        failures.check(False, f"not expected: {os.path.relpath(path, tree.root)}")
    if not args.helper:
        failures.check(not os.path.exists(os.path.dirname(tree.helper)),
                       "a helper folder without a helper target")

    for path, size in zip(tree.icons, ICON_SIZES):
        if os.path.isfile(path):
            failures.check(png_size(path) == (size, size),
                           f"{os.path.relpath(path, tree.root)} is {png_size(path)}, not {size}x{size}")


def check_convert_runs(args, tree, failures):
    if not os.path.isfile(tree.convert):
        return
    version = subprocess.run([tree.convert, "--version"], capture_output=True, text=True)
    first = version.stdout.splitlines()[0] if version.stdout else ""
    failures.check(version.returncode == 0 and first == f"corvanta-convert {args.version}",
                   f"--version: status {version.returncode}, {version.stdout!r}")
    listing = subprocess.run([tree.convert, "--list-presets"], capture_output=True, text=True)
    lines = listing.stdout.splitlines()
    failures.check(listing.returncode == 0 and lines,
                   f"--list-presets: status {listing.returncode}, {len(lines)} lines")
    # The bash completion reads the names from this layout.
    for line in lines:
        failures.check(len(line) > PRESET_NAME_COLUMN and line[PRESET_NAME_COLUMN - 1] == " "
                       and line[PRESET_NAME_COLUMN] == "!",
                       f"--list-presets line without the scheme at column 24: {line!r}")


def check_names_agree(args, tree, failures):
    """The desktop ties the window to its launcher, icon and software-centre
    page by these names; a rename or a new release must change them all."""
    if os.path.isfile(tree.desktop):
        entry = desktop_entry(tree.desktop)
        failures.check(entry.get("Icon") == args.app_id, f"Icon={entry.get('Icon')}")
        failures.check(entry.get("StartupWMClass") == args.app_id,
                       f"StartupWMClass={entry.get('StartupWMClass')}")
        exec_program = entry.get("Exec", "").split(" ")[0]
        failures.check(os.path.join(os.path.dirname(tree.convert), exec_program) in tree.programs,
                       f"Exec={entry.get('Exec')} is not an installed program")
    if os.path.isfile(tree.metainfo):
        component = ElementTree.parse(tree.metainfo).getroot()
        failures.check(component.findtext("id") == args.app_id,
                       f"metainfo id {component.findtext('id')}")
        failures.check(component.findtext("launchable") == os.path.basename(tree.desktop),
                       f"metainfo launchable {component.findtext('launchable')}")
        releases = [r.get("version") for r in component.iter("release")]
        failures.check(releases[:1] == [args.version],
                       f"newest metainfo release {releases[:1]}, project version {args.version}")
    for page in tree.man_pages:
        if os.path.isfile(page):
            with open(page, encoding="utf-8") as f:
                title = next((l for l in f if l.startswith(".TH ")), "")
            failures.check(f'"Corvanta {args.version}"' in title,
                           f"{os.path.basename(page)}: .TH without version {args.version}: {title!r}")


def run_validator(command, failures, what):
    """Runs a validator, shows what it said and fails on a non-zero status."""
    result = subprocess.run(command, capture_output=True, text=True)
    print(f"$ {' '.join(command)}\n{result.stdout}{result.stderr}", end="")
    failures.check(result.returncode == 0, f"{what}: exit status {result.returncode}")
    return result


def check_desktop(tree, failures):
    tool = shutil.which("desktop-file-validate") or skip("desktop-file-validate")
    result = run_validator([tool, tree.desktop], failures, "desktop-file-validate")
    failures.check(not (result.stdout + result.stderr).strip(),
                   "desktop-file-validate printed something")
    # Merged from the catalogues at build time.
    if os.path.isfile(tree.desktop):
        entry = desktop_entry(tree.desktop)
        for lang in tree.languages:
            for key in ("Name", "GenericName", "Comment", "Keywords"):
                failures.check(f"{key}[{lang}]" in entry, f"no {key}[{lang}] in the desktop entry")


def check_metainfo(tree, failures):
    tool = shutil.which("appstreamcli") or skip("appstreamcli")
    result = run_validator([tool, "validate", "--no-net", tree.metainfo], failures, "appstreamcli")
    # Only errors and warnings count; pedantic notes and infos are advice.
    problems = [l for l in (result.stdout + result.stderr).splitlines() if re.match(r"[EW]: ", l)]
    failures.check(not problems, f"appstreamcli: {problems}")
    if os.path.isfile(tree.metainfo):
        component = ElementTree.parse(tree.metainfo).getroot()
        lang_key = "{http://www.w3.org/XML/1998/namespace}lang"
        for lang in tree.languages:
            for tag in ("name", "summary"):
                failures.check(any(e.get(lang_key) == lang for e in component.iter(tag)),
                               f"no {tag} in {lang} in the metainfo")


def help_options(tree):
    """The options corvanta-convert --help names."""
    result = subprocess.run([tree.convert, "--help"], capture_output=True, text=True)
    return sorted(set(re.findall(r"--[a-z][a-z-]*", result.stdout)))


def check_man(tree, failures):
    tool = shutil.which("man") or skip("man")
    rendered = {}
    for page in tree.man_pages:
        result = subprocess.run([tool, "--warnings", "-l", page], capture_output=True, text=True,
                                env=dict(os.environ, MANROFFSEQ="", MANWIDTH="80"))
        print(f"$ man --warnings -l {page}\n{result.stderr}", end="")
        failures.check(result.returncode == 0 and not result.stderr.strip(),
                       f"{os.path.basename(page)}: status {result.returncode}")
        rendered[os.path.basename(page)] = result.stdout.replace("\u2010", "-")
    # An option added to the program but not to its page.
    options = help_options(tree)
    failures.check(len(options) >= 9, f"--help names only {options}")
    for option in options:
        failures.check(option in rendered.get("corvanta-convert.1", ""),
                       f"corvanta-convert.1 does not mention {option}")


# Sets up the words as bash would for the line being completed (the last word
# is the one under the cursor), calls the completion and prints one reply a
# line.
COMPLETE = r'''
source /usr/share/bash-completion/bash_completion
source "$COMPLETION"
complete_line() {
  COMP_WORDS=("$@"); COMP_CWORD=$(( $# - 1 ))
  COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}; COMPREPLY=()
  _corvanta_convert corvanta-convert "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
  printf '%s\n' "${COMPREPLY[@]}"
}
'''


def check_completion(tree, failures):
    bash = shutil.which("bash")
    if not bash or not os.path.isfile("/usr/share/bash-completion/bash_completion"):
        skip("bash-completion")
    work = tempfile.mkdtemp(prefix="corvanta-completion-")
    try:
        os.mkdir(os.path.join(work, "out folder"))
        for name in ("look.cube", "look.png", "notes.txt"):
            open(os.path.join(work, name), "w").close()
        env = dict(os.environ, COMPLETION=tree.completion,
                   PATH=os.path.dirname(tree.convert) + os.pathsep + os.environ.get("PATH", ""))

        def replies(*words):
            script = COMPLETE + "complete_line corvanta-convert " + " ".join(
                "'" + w.replace("'", "'\\''") + "'" for w in words)
            result = subprocess.run([bash, "-c", script], cwd=work, env=env,
                                    capture_output=True, text=True)
            return sorted(l for l in result.stdout.splitlines() if l)

        cases = [
            # Names with blanks and shell characters come escaped, or as they
            # are inside an opened quote; the names are the installed
            # program's own.
            (("--preset", "Sepia s"), ["Sepia\\ silver"]),
            (("--preset", "Gray"), ["Gray", "Gray\\ \\(high\\ contrast\\)"]),
            (("--preset", "Black"), ["Black\\ \\&\\ white"]),
            (("--preset", '"Gray ('), ["Gray (high contrast)"]),
            (("--preset=Heat",), ["Heat\\ camera"]),
            (("--quality", ""), ["high", "medium"]),
            (("--output", "o"), ["out folder"]),
            (("--export-lut", "lo"), ["look.cube", "look.png"]),
            (("--scheme", ""), []),
            (("--list-p",), ["--list-presets"]),
            (("--lut",), ["--lut-size"]),
            (("no",), ["notes.txt"]),
            (("--", "--"), []),
        ]
        for words, expected in cases:
            got = replies(*words)
            failures.check(got == sorted(expected), f"completing {words}: {got}, not {expected}")
        # An option added to the program but not to its completion.
        offered = replies("--")
        for option in help_options(tree):
            failures.check(option in offered, f"the completion does not offer {option}")
    finally:
        shutil.rmtree(work)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=["layout", "desktop", "metainfo", "man", "completion"])
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--app-id", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--helper", type=int, choices=[0, 1], required=True)
    parser.add_argument("--bindir", default="bin")
    parser.add_argument("--languages", default="", help="comma-separated, as po/LINGUAS")
    parser.add_argument("--libexecdir", default="libexec")
    parser.add_argument("--datadir", default="share")
    parser.add_argument("--mandir", default="share/man")
    parser.add_argument("--completion-dir", default="share/bash-completion/completions")
    args = parser.parse_args()

    destdir = tempfile.mkdtemp(prefix="corvanta-destdir-")
    failures = Failures()
    try:
        install(args, destdir)
        tree = Tree(args, destdir)
        if args.check == "layout":
            check_layout(args, tree, failures)
            check_convert_runs(args, tree, failures)
            check_names_agree(args, tree, failures)
        elif args.check == "desktop":
            check_desktop(tree, failures)
        elif args.check == "metainfo":
            check_metainfo(tree, failures)
        elif args.check == "man":
            check_man(tree, failures)
        else:
            check_completion(tree, failures)
    finally:
        shutil.rmtree(destdir)

    for message in failures.messages:
        print("FAILED:", message)
    sys.exit(1 if failures.messages else 0)


if __name__ == "__main__":
    main()
