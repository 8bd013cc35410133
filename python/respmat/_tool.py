"""The `respmat` command that pip installs: the tool the package carries, run in this
process's place, so that its standard streams, exit status and signals are the tool's
own."""

import os
import sys
from pathlib import Path


def main():
    tool = Path(__file__).resolve().parent / "bin" / "respmat"
    os.execv(tool, [str(tool), *sys.argv[1:]])
