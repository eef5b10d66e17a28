#!/usr/bin/env python3
"""The shipped pakrun-preview.exe against the native build: the same options on the same
files give the same bytes, output and error text alike, and the same exit code.

Runs both on the guide's worked examples (with their machine file, --strict, in text and
JSON, and on every Windows version), on the cases of the integration test, and on input
that must be refused. The Windows build runs under Wine in the suite's prefix (WINEPREFIX
and TOOLS_WINE_ARCH from the environment), both from the same working folder, so that
every path either names is the same text.

Usage: windows_build.py NATIVE-PREVIEW PREVIEW-EXE WINE-ENV-SCRIPT GUIDE CASES-DIR WORK-DIR
"""
import os
import re
import shutil
import subprocess
import sys

native, exe, wine_env, guide, cases, work = sys.argv[1:7]
for program in (native, exe):
    if not os.access(program, os.X_OK):
        sys.exit(f"windows_build: no program at {program} (build the native and windows presets first)")

shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)


def write(path, data):
    path = os.path.join(work, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


# The guide's blocks titled "example-<n>/<part>" and its machine file, as files; the
# settings file and the script with the line ends Windows files have.
runs = []
text = open(guide, encoding="utf-8").read()
blocks = re.findall(r'^```\w* title="([^"]+)"\n(.*?)^```$', text, re.M | re.S)
examples = {}
for title, body in blocks:
    lines = body.splitlines()
    if title.startswith("example-"):
        name, part = title.split("/", 1)
        examples.setdefault(name, {})[part] = lines
        if part in ("Pakrun.ini", "Pakrun.reg"):
            write(title, "".join(line + "\r\n" for line in lines).encode())
    elif title.startswith("preview-machine/"):
        write(title, body.encode())
if len(examples) < 3 or not os.path.exists(os.path.join(work, "preview-machine")):
    sys.exit("windows_build: the guide's examples or its machine file were not found")
versions = {"98": "98", "2000": "2000", "XP": "xp", "2003": "2003", "7": "other"}
for name, parts in sorted(examples.items()):
    options = []
    for line in parts.get("machine", []):
        what, _, value = line.partition(" ")
        if what == "program":
            options += ["--program", value.strip()]
        elif what == "windows":
            options += ["--windows", versions[value.strip()]]
    settings = f"{name}/Pakrun.ini"
    runs += [[settings, *options, "--strict"],
             [settings, *options, "--strict", "--format", "json"],
             [settings, *options, "--windows", "all", "--format", "json"]]
machine = "preview-machine/" + os.listdir(os.path.join(work, "preview-machine"))[0]
runs.append(["example-1/Pakrun.ini", "--machine", machine, "--format", "json"])

# The integration test's cases: <case>.args holds the settings file and the options.
shutil.copytree(cases, os.path.join(work, "cases"))
for args in sorted(f for f in os.listdir(cases) if f.endswith(".args")):
    lines = open(os.path.join(cases, args), encoding="utf-8").read().splitlines()
    runs.append(["cases/" + lines[0], *lines[1:], "--format", "json"])
    runs.append(["cases/" + lines[0], *lines[1:], "--windows", "all"])

# Warned about under --strict: a CMDEXE with a folder, which Pakrun puts behind its own;
# an unknown key silenced by a disable comment; the list of checks.
write("warned/Pakrun.ini", b"[PARAMS]\r\nSWAPCMD=1\r\nCMDEXE=C:\\Tools\\Inst.exe\r\n"
                           b"; pakrun-preview: disable=PP105\r\nFOO=1\r\n")
runs += [["warned/Pakrun.ini", "--strict"], ["warned/Pakrun.ini", "--strict", "--format", "json"],
         ["--list-checks"]]

# Refused: a folder, a file that is not there, a file over the bound, an unknown option.
write("big/Pakrun.ini", b"[PARAMS]\r\n" + b";" * (16 * 1024 * 1024))
runs += [["example-1"], ["missing.ini"], ["big/Pakrun.ini"], ["example-1/Pakrun.ini", "--bogus"]]


def run(command):
    result = subprocess.run(command, cwd=work, capture_output=True, timeout=120)
    return result.returncode, result.stdout, result.stderr


def run_windows(args):
    # The loader now and then gives up under load before the program has printed a thing;
    # the program did not run then, and is started once more.
    command = ["sh", "-c", '. "$0"; exec "$WINE" "$@"', wine_env, exe, *args]
    outcome = run(command)
    if outcome[0] != 0 and not outcome[1] and not outcome[2]:
        print(f"windows_build: Wine ended with status {outcome[0]} before printing; once more")
        outcome = run(command)
    return outcome


failures = 0
codes = {}
for args in runs:
    mine, theirs = run([native, *args]), run_windows(args)
    shown = " ".join(args)
    codes[mine[0]] = codes.get(mine[0], 0) + 1
    if mine != theirs:
        failures += 1
        print(f"DIFFERS: {shown}: exit {mine[0]} native, {theirs[0]} Windows")
        for what, a, b in (("output", mine[1], theirs[1]), ("errors", mine[2], theirs[2])):
            if a != b:
                at = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
                print(f"  {what} first differs at byte {at}: native {a[at:at + 80]!r}, Windows {b[at:at + 80]!r}")
    else:
        print(f"same: exit {mine[0]}, {len(mine[1])} + {len(mine[2])} bytes: {shown}")
# Every kind of ending was seen: plans shown, a warning under --strict, input refused.
for code in (0, 1, 2):
    if code not in codes:
        failures += 1
        print(f"FAIL: no run ended with exit {code}")
print(f"windows_build: {len(runs) - failures} of {len(runs)} runs the same")
sys.exit(1 if failures else 0)
