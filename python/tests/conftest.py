"""The binding is tested from the source tree against the library named by
KDRVX_LIBRARY (the build sets it to the library it built)."""

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
sys.path.insert(0, str(Path(__file__).resolve().parent))

import kdrvx  # noqa: E402
from kdrvx import reading, writing  # noqa: E402


@pytest.fixture(autouse=True)
def contexts_released():
    """Every test closes its recordings and leaves the library's create context free."""
    yield
    left = [recording for recording in list(reading._open_recordings) if not recording.closed]
    holder = writing._holder() if writing._holder is not None else None
    if holder is not None and not holder.closed:
        left.append(holder)
    for opened in left:
        opened.close()
    if left:
        pytest.fail("the test left %r open" % left)
