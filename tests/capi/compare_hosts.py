"""Runs each host given on the command line against a local picture server and checks that
each prints exactly the expected lines. Usage: compare_hosts.py EXPECTED HOST_COMMAND..."""
import os
import shlex
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python", "tests"))
from picture_server import PictureServer  # noqa: E402


def main():
    expected = open(sys.argv[1], encoding="utf-8").read()
    failed = False
    for command in sys.argv[2:]:
        with PictureServer() as server:
            run = subprocess.run(shlex.split(command) + [server.url], capture_output=True, timeout=300)
        out = run.stdout.decode("utf-8", "replace")
        if run.returncode != 0 or out != expected:
            failed = True
            print("FAILED: %s (exit %d)\n--- printed:\n%s--- expected:\n%s--- stderr:\n%s" % (
                command, run.returncode, out, expected, run.stderr.decode("utf-8", "replace")))
        else:
            print("ok: %s" % command)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
