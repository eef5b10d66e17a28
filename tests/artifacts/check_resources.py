#!/usr/bin/env python3
"""Checks that an executable carries the resources given as regular expressions, read
back from the file with windres."""
import argparse
import re
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--windres", required=True)
    parser.add_argument("--expect", action="append", default=[],
                        help="a regular expression the decompiled resources must match")
    args = parser.parse_args()
    rc = subprocess.run([args.windres, "-i", args.exe, "-O", "rc"], check=True,
                        capture_output=True, text=True).stdout
    missing = [pattern for pattern in args.expect if not re.search(pattern, rc, re.MULTILINE)]
    for pattern in missing:
        print("FAIL: no resource matches " + pattern)
    print(f"{args.exe}: {len(args.expect) - len(missing)} of {len(args.expect)} resources found")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
