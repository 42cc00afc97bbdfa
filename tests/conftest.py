"""Suite-wide options: the leak hunter (--leaks, see leak_hunter.py)."""

from leak_hunter import pytest_addoption, pytest_configure, pytest_pyfunc_call  # noqa: F401
