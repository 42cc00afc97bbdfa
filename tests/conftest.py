# Suite-wide options and markers: the leak hunter (--leaks, see tools/leak_hunter.py), and the tests
# that cannot run under AddressSanitizer.


import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, "tools"))
from leak_hunter import pytest_addoption, pytest_pyfunc_call  # noqa: E402,F401
from leak_hunter import pytest_configure as leak_hunter_configure


def pytest_configure(config):
    leak_hunter_configure(config)
    config.addinivalue_line("markers", "limits_address_space: sets RLIMIT_AS in a child process")


def pytest_collection_modifyitems(config, items):
    # AddressSanitizer reserves terabytes of address space for its shadow memory, so a test that
    # limits the address space cannot run under it.
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        skip = pytest.mark.skip(reason="limits the address space, which AddressSanitizer needs")
        for item in items:
            if item.get_closest_marker("limits_address_space"):
                item.add_marker(skip)
