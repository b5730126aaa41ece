"""The README's first screen: it opens with the two commands and the three hosts, each the very
text of its example file (examples/first_window.py, .cpp, .c, which the build compiles and the
tests run), and the Python host runs to its end offscreen.

    python3 first_screen_test.py SOURCE_DIR
"""
import os
import re
import runpy
import sys

FIRST_SCREEN_LINES = 50  # a terminal's screen: the commands and the Python host are in it
FIRST_PAGES_LINES = 90  # the C++ and C hosts follow

SOURCE = sys.argv[1]


def blocks(text):
    return [m.group(2) for m in re.finditer(r"```([\w+]*)\n(.*?)```", text, re.S)]


def main():
    failures = []
    with open(os.path.join(SOURCE, "README.md")) as f:
        readme = f.read()
    first = blocks("\n".join(readme.splitlines()[:FIRST_SCREEN_LINES]) + "\n")
    found = blocks("\n".join(readme.splitlines()[:FIRST_PAGES_LINES]) + "\n")
    if not found or "bash scripts/demo.sh" not in found[0] or "bash scripts/test.sh" not in found[0]:
        failures.append("the first block is not the two commands")
    with open(os.path.join(SOURCE, "examples", "first_window.py")) as f:
        if f.read() not in first:
            failures.append("the Python host is not within the README's first %d lines" % FIRST_SCREEN_LINES)
    for name in ("first_window.py", "first_window.cpp", "first_window.c"):
        with open(os.path.join(SOURCE, "examples", name)) as f:
            if f.read() not in found:
                failures.append("examples/%s is not a block of the README's first %d lines" % (name, FIRST_PAGES_LINES))
    order = [i for i, b in enumerate(found) for name in ("desk.run()", "app.exec()", "api->run(")
             if name in b]
    if len(order) != 3:
        failures.append("the three hosts are not all in the first screen")

    # The Python host, unchanged: its loop ends once it runs.
    import desk
    run = desk.run

    def run_then_quit():
        desk.call_soon(desk.quit)
        print("first-screen host: the event loop runs, quitting")
        run()

    desk.run = run_then_quit
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    scope = runpy.run_path(os.path.join(SOURCE, "examples", "first_window.py"))
    tree = scope["tree"]
    if tree.Nodes.Count != 3 or not tree.Nodes("desk").Expanded:
        failures.append("the Python host's tree: %d nodes" % tree.Nodes.Count)

    for f in failures:
        print("FAIL:", f)
    print("README first screen: %d blocks, %s" % (len(found), "failed" if failures else "ok"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
