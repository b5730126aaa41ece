"""A process that forks after a Fill fills too: with os.fork() and with multiprocessing's "fork"
start method, the child's Fill ends with every picture while the parent fills the same cache
files at the same time, and both leave the right files. A child that hangs is killed by its
alarm (os.fork) or after a bounded join (multiprocessing) and fails the test."""
import multiprocessing
import os
import signal

import pytest

import desk
from picture_server import PICTURES, PictureServer

IMAGE_LIST = "{54DB11E5-373F-4255-8B48-D0C961FAE634}"
NAMES = ("red", "green", "blue")
pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")  # fork with threads running


def fill(url):
    """A Fill of the three pictures, downloaded again: how many entered the list."""
    images = desk.CreateObject(IMAGE_LIST)
    for name in NAMES:
        images.ListImages.Add(name, url + name + ".png")
    images.ForceDownload = True
    images.Fill()
    return images.ImageListControl.ListImages.Count


def cache_is_right(folder):
    for name in NAMES:
        with open(os.path.join(folder, name + ".png"), "rb") as f:
            if f.read() != PICTURES["/" + name + ".png"]:
                return False
    return True


def fill_in_child(url, folder):
    """multiprocessing's target: fails the child's exit code unless its Fill was whole."""
    signal.alarm(30)
    assert fill(url) == len(NAMES)
    assert cache_is_right(folder)


def test_a_child_of_os_fork_fills_after_the_parent_filled(tmp_path, monkeypatch):
    monkeypatch.setenv("TMPDIR", str(tmp_path))
    with PictureServer() as server:
        assert fill(server.url) == len(NAMES)  # the library's threads run in this process now
        pid = os.fork()
        if pid == 0:
            code = 1
            try:
                signal.alarm(30)
                code = 0 if fill(server.url) == len(NAMES) and cache_is_right(str(tmp_path)) else 1
            finally:
                os._exit(code)
        assert fill(server.url) == len(NAMES)  # meanwhile, into the same files
        _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0, "the child's Fill failed or hung (-14: its alarm)"
    assert cache_is_right(str(tmp_path))


def test_a_multiprocessing_fork_worker_fills_after_the_parent_filled(tmp_path, monkeypatch):
    monkeypatch.setenv("TMPDIR", str(tmp_path))
    with PictureServer() as server:
        assert fill(server.url) == len(NAMES)
        worker = multiprocessing.get_context("fork").Process(target=fill_in_child, args=(server.url, str(tmp_path)))
        worker.start()
        assert fill(server.url) == len(NAMES)
        worker.join(60)
        if worker.is_alive():
            worker.kill()
            worker.join()
            pytest.fail("the worker's Fill never returned")
    assert worker.exitcode == 0
    assert cache_is_right(str(tmp_path))
