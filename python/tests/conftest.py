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
    """Every test leaves the library's read and create contexts free."""
    yield
    for module in (reading, writing):
        holder = module._holder() if module._holder is not None else None
        if holder is not None and not holder.closed:
            holder.close()
            pytest.fail("the test left %r open" % holder)
