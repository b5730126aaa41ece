import gc
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import desk  # noqa: E402


@pytest.fixture(autouse=True)
def fresh_platform_and_no_leaked_handles():
    """Each test on a new headless platform; afterwards every handle must have been given back."""
    desk.use_platform("headless")
    yield
    gc.collect()
    assert desk.handle_count() == 0
