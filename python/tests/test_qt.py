"""The Qt platform from Python: a control in a window and the event loop. Runs in a process of its
own (the application object lives as long as the process); skipped when libDeskQt.so is not built."""
import os
import subprocess
import sys

import pytest

SCRIPT = r"""
import gc, sys
sys.path.insert(0, sys.argv[1])
import desk
try:
    desk.use_platform("qt")
except desk.DeskError as e:
    print("no qt:", e)
    sys.exit(3)
tree = desk.CreateObject("{D5CA163D-6878-4BD8-A144-A5E85A414594}")
desk.init_properties(tree)
tree.Nodes.Add(Key="a", Text="Alpha")

desk.show(tree, "Python tree", 320, 240)
desk.do_events()
desk.quit()
desk.run()  # ends at once: the quit was asked for first
print("nodes", tree.Nodes.Count)
try:
    desk.show(desk.new_bag(), "not a control")
except desk.DeskError as e:
    print("bag", e.number)
del tree
gc.collect()
print("handles", desk.handle_count())
# Back on the headless platform, windows are refused again.
desk.use_platform("headless")
plain = desk.CreateObject("{D5CA163D-6878-4BD8-A144-A5E85A414594}")
try:
    desk.show(plain, "headless", 320, 240)
except desk.DeskError as e:
    print("headless show", e.number)
"""


def test_a_control_in_a_window_and_the_event_loop():
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    python_dir = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    run = subprocess.run([sys.executable, "-c", SCRIPT, python_dir], capture_output=True, timeout=60, env=env)
    if run.returncode == 3:
        pytest.skip(run.stdout.decode().strip())
    assert run.returncode == 0, run.stderr.decode()
    assert run.stdout.decode().splitlines() == ["nodes 1", "bag 438", "handles 0", "headless show 5"]
