#!/usr/bin/env python3
"""Checks that a program's --help and its manual page tell the same story.

  check_man_page.py PROGRAM PAGE

PROGRAM is the built program, PAGE its man(7) source (docs/man/NAME.1). The check fails, with
one line per difference, when
  - an option of --help (--name, -x, or a window switch written /xNAME) is not a tag of the
    page's OPTIONS section,
  - an option in the page is not in --help (options the page gives to another of our programs,
    as in "quillmere-cli import --csv", and those under SEE ALSO do not count),
  - a command of --help (the words listed under its "Commands:" heading) is not a command of
    the page's COMMANDS section, or the other way round,
  - the exit codes of --help (its "Exit codes:" or "Exit status:" paragraph, codes separated by
    semicolons) and the tags of the page's EXIT STATUS section are not the same set,
  - `man --warnings -l PAGE` writes anything on standard error, or lexgrog cannot read the
    page's NAME line.
--help runs without DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM, as it must for the window.
Exit status: 0 they agree, 1 a difference (each on a line of its own), 2 wrong usage.
"""

import os
import re
import subprocess
import sys

PROGRAMS = re.compile(r"(?<![\w/.~$-])(quillmere(?:-cli|-recfile)?)(?![\w/-])")
# "--user-folder", "-h", "-platform"; not "Ctrl-C", "SHA-256", "out-of-balance" or "-" alone.
DASH_OPTION = re.compile(r"(?<![\w/-])(--?[A-Za-z][\w-]*)")
# A window switch with its value's name: "/aCODE" gives "/a". Paths ("/etc/quillmere",
# "M/D/YYYY", "~/Quillmere") never have a lower-case letter followed by capitals.
SLASH_SWITCH = re.compile(r"(?<![\w/.~$-])(/[a-z])(?=[A-Z]{2,})")
ALTERNATING = {"BR", "RB", "BI", "IB", "IR", "RI"}
SINGLE_FONT = {"B", "I", "SM", "SB"}


def Options(text):
    return set(DASH_OPTION.findall(text)) | set(SLASH_SWITCH.findall(text))


def Unescaped(text):
    """The text of a line of man(7) source as it reads, fonts and escapes removed."""
    text = re.sub(r"\\f(\[[^]]*\]|\(..|.)", "", text)
    for escape, plain in (("\\-", "-"), ("\\e", "\\"), ("\\&", ""), ("\\(aq", "'"),
                          ("\\(ti", "~"), ("\\(dq", '"'), ("\\ ", " "), ("\\~", " "),
                          ("\\:", ""), ("\\%", ""), ("\\\\", "\\")):
        text = text.replace(escape, plain)
    return text


def MacroArguments(rest):
    """The arguments of a macro line, quotes honoured: '"undo " RUN' -> ['undo ', 'RUN']."""
    return [quoted if quoted or not bare else bare
            for quoted, bare in re.findall(r'"((?:[^"]|"")*)"|(\S+)', rest)]


class Page:
    """The page's text units, each (section, is_tag, source line number, text)."""

    def __init__(self, path):
        self.units = []
        section = ""
        tag_next = False
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n")
        for number, line in enumerate(lines, 1):
            if line.startswith(('.\\"', "'\\\"")):
                continue
            if line.startswith("."):
                macro, _, rest = line[1:].partition(" ")
                if macro == "SH":
                    section = Unescaped(" ".join(MacroArguments(rest))).upper()
                    continue
                if macro == "TP":
                    tag_next = True
                    continue
                if macro in ALTERNATING:
                    text = "".join(MacroArguments(rest))
                elif macro in SINGLE_FONT:
                    text = " ".join(MacroArguments(rest))
                else:
                    continue  # layout only: .PP, .RS, .EX, .br ...
            else:
                text = line
            self.units.append((section, tag_next, number, Unescaped(text)))
            tag_next = False

    def Tags(self, section):
        return [(number, text) for s, tag, number, text in self.units if s == section and tag]

    def Options(self, program, options_tags_only=False):
        """Each option the page gives `program`, with the first line that gives it: anywhere
        but SEE ALSO, or only in the tags of the OPTIONS section."""
        found = {}
        for section, tag, number, text in self.units:
            if section == "SEE ALSO" or (options_tags_only and (section, tag) != ("OPTIONS", True)):
                continue
            # An option belongs to the last program named before it on its line, else to ours.
            names = [(m.start(), m.group(1)) for m in PROGRAMS.finditer(text)]
            for match in list(DASH_OPTION.finditer(text)) + list(SLASH_SWITCH.finditer(text)):
                owner = program
                for start, name in names:
                    if start < match.start():
                        owner = name
                if owner == program:
                    found.setdefault(match.group(1), number)
        return found


def HelpCommands(help_text):
    """The words listed under the help's "Commands:" heading, two blanks in."""
    commands = []
    in_list = False
    for line in help_text.split("\n"):
        if re.fullmatch(r"commands:\s*", line.strip(), re.IGNORECASE):
            in_list = True
        elif in_list and not line.strip():
            in_list = False
        elif in_list:
            match = re.match(r"  ([a-z][\w.-]*)", line)
            if match:
                commands.append(match.group(1))
    return commands


def SplitTopLevel(text, separator):
    """`text` cut at each `separator` outside parentheses."""
    parts, depth, start = [], 0, 0
    for i, c in enumerate(text):
        depth += c == "("
        depth -= c == ")"
        if c == separator and depth == 0:
            parts.append(text[start:i])
            start = i + 1
    parts.append(text[start:])
    return parts


def HelpExitCodes(help_text, problems):
    """The codes of the help's exit paragraph: "Exit codes: 0 done; 1 failed (...); 2 ..."."""
    match = re.search(r"^exit (?:codes|status):(.*?)(?:\n\s*\n|\Z)", help_text,
                      re.IGNORECASE | re.MULTILINE | re.DOTALL)
    if not match:
        problems.append('--help has no paragraph starting "Exit codes:" or "Exit status:"')
        return set()
    codes = set()
    for part in SplitTopLevel(" ".join(match.group(1).split()), ";"):
        code = re.match(r"\s*(\d+)\s", part)
        if code:
            codes.add(code.group(1))
        elif part.strip().rstrip("."):
            problems.append("--help's exit paragraph has a part without a leading code: "
                            f"[{part.strip()}]")
    return codes


def Run(argv, environment):
    return subprocess.run(argv, capture_output=True, text=True, env=environment, timeout=120)


def Main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    program_path, page_path = argv[1], argv[2]
    program = os.path.basename(program_path)
    page_name = os.path.basename(page_path)
    problems = []

    environment = {k: v for k, v in os.environ.items()
                   if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    run = Run([program_path, "--help"], environment)
    if run.returncode != 0:
        problems.append(f"{program} --help exits {run.returncode}: {run.stderr.strip()}")
    help_text = run.stdout
    page = Page(page_path)

    help_options = Options(help_text)
    page_options = page.Options(program)
    for option in sorted(help_options - page.Options(program, options_tags_only=True).keys()):
        problems.append(f"{option} is in {program} --help but no tag of the OPTIONS of "
                        f"{page_name} names it")
    for option in sorted(page_options.keys() - help_options):
        problems.append(f"{option} is in {page_name} (line {page_options[option]}) "
                        f"but not in {program} --help")

    help_commands = set(HelpCommands(help_text))
    page_commands = {}
    for number, text in page.Tags("COMMANDS"):
        page_commands.setdefault(text.split()[0] if text.split() else "", number)
    for command in sorted(help_commands - page_commands.keys()):
        problems.append(f"command {command} is in {program} --help but not in the COMMANDS "
                        f"of {page_name}")
    for command in sorted(page_commands.keys() - help_commands):
        problems.append(f"command {command} is in the COMMANDS of {page_name} (line "
                        f"{page_commands[command]}) but not in {program} --help")

    help_codes = HelpExitCodes(help_text, problems)
    page_codes = set()
    for number, text in page.Tags("EXIT STATUS"):
        if re.fullmatch(r"\d+", text.strip()):
            page_codes.add(text.strip())
        else:
            problems.append(f"{page_name} line {number}: an EXIT STATUS tag that is not a "
                            f"number: [{text}]")
    if not page_codes:
        problems.append(f"{page_name} lists no exit status (.TP tags under EXIT STATUS)")
    for code in sorted(help_codes - page_codes, key=int):
        problems.append(f"exit code {code} is in {program} --help but not in the EXIT STATUS "
                        f"of {page_name}")
    for code in sorted(page_codes - help_codes, key=int):
        problems.append(f"exit code {code} is in the EXIT STATUS of {page_name} but not in "
                        f"{program} --help")

    render_environment = dict(environment, LC_ALL="C.UTF-8", MANWIDTH="80")
    try:
        render = Run(["man", "--warnings", "-l", page_path], render_environment)
        if render.returncode != 0 or render.stderr:
            problems.append(f"man --warnings -l {page_name} exits {render.returncode} and "
                            f"says: {render.stderr.strip()}")
        whatis = Run(["lexgrog", page_path], render_environment)
        if whatis.returncode != 0 or f'"{page_name.rsplit(".", 1)[0]} - ' not in whatis.stdout:
            problems.append(f"lexgrog cannot read the NAME line of {page_name}: "
                            f"{(whatis.stdout + whatis.stderr).strip()}")
    except FileNotFoundError as e:
        problems.append(f"{e.filename} is not installed (scripts/setup installs man-db)")

    for problem in problems:
        print(problem)
    if not problems:
        print(f"{program} --help and {page_name} agree on options, commands and exit codes "
              f"({', '.join(sorted(help_codes, key=int))})")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(Main(sys.argv))
