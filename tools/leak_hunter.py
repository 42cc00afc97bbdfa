# Leak hunter: a pytest plugin that runs each test body several times and fails the tests whose
# repeated runs leave references or memory blocks behind.
#
#     python3.14-dbg -m pytest --leaks tests          # 2 warm-up runs, then 3 measured runs
#     python3.14-dbg -m pytest --leaks --leak-runs=3:4 tests    # 3 warm-up runs, 4 measured
#
# It needs a debug interpreter (sys.gettotalrefcount) and a module built for it. Only the test
# function is repeated; its fixtures are set up once. Warm-up runs fill the caches that grow once
# and stay (interned strings, type caches, free lists, import state); after them, the total of
# sys.gettotalrefcount() and of sys.getallocatedblocks() over the measured runs must not grow at
# all. A test that grows is measured once more, one warm-up run and then twice the runs, before it
# is reported, so that a one-off cache fill landing in the measured runs is not mistaken for a leak.
#
# Hypothesis tests run derandomized with a small fixed number of examples and no example database,
# so that each run draws exactly the same inputs. Tests marked `no_leak_check` run once, as usual:
# those whose work happens in child processes, and those below.
#
# Extension modules built for the release interpreter (numpy, in Debian) keep no reference total: every
# object they release makes the total drift upwards, as if it leaked. Tests that hand numpy objects to
# the module are therefore marked `no_leak_check`, and Hypothesis is kept from saving and restoring
# numpy's global random state around every example.


import gc
import sys

import pytest

try:
    from hypothesis import Phase
    from hypothesis import settings as hypothesis_settings
except ImportError:  # pragma: no cover - hypothesis is part of the toolchain
    hypothesis_settings = None

HYPOTHESIS_EXAMPLES = 15


def pytest_addoption(parser):
    parser.addoption(
        "--leaks",
        action="store_true",
        help="repeat each test and fail on reference or memory-block growth (debug interpreter only)",
    )
    parser.addoption("--leak-runs", default="2:3", metavar="WARMUPS:RUNS", help="runs per test under --leaks")


def pytest_configure(config):
    config.addinivalue_line("markers", "no_leak_check: run this test once even under --leaks")
    if not config.getoption("--leaks"):
        return
    if not hasattr(sys, "gettotalrefcount"):
        raise pytest.UsageError("--leaks needs a debug interpreter (python3.14-dbg)")
    warmups, _, runs = config.getoption("--leak-runs").partition(":")
    config._leak_plan = (int(warmups), int(runs or 3))
    try:
        from hypothesis.internal import entropy
    except ImportError:  # pragma: no cover
        return
    if getattr(entropy, "NP_RANDOM", None) is None:
        entropy.NP_RANDOM = object()  # "already registered": numpy's generator is left alone


def _settle():
    """Counters after dropping everything that is only waiting for collection."""
    gc.collect()
    sys._clear_internal_caches()
    return sys.gettotalrefcount(), sys.getallocatedblocks()


def _materialize_frames():
    """Creates the frame objects of every caller now. Code that walks the stack (Hypothesis does)
    creates them on first use, and they then live as long as their frames run: they would count as
    growth in the first measured run."""
    frame = sys._getframe()
    while frame is not None:
        frame = frame.f_back


def _measure(body, runs):
    _materialize_frames()
    refs, blocks = [], []
    # The four counter variables exist before the first measurement, so that the ints they hold
    # weigh the same in every reading.
    r0, b0 = _settle()
    r1, b1 = _settle()
    for _ in range(runs):
        r0, b0 = _settle()
        body()
        r1, b1 = _settle()
        refs.append(r1 - r0)
        blocks.append(b1 - b0)
    return refs, blocks


def _grows(refs, blocks):
    return sum(refs) > 0 or sum(blocks) > 0


class _FixedExamples:
    """Makes a Hypothesis test draw the same small set of inputs on every run."""

    def __init__(self, function):
        self.function = function
        self.saved = getattr(function, "_hypothesis_internal_use_settings", None)

    def __enter__(self):
        if self.saved is not None and hypothesis_settings is not None:
            self.function._hypothesis_internal_use_settings = hypothesis_settings(
                self.saved,
                max_examples=min(self.saved.max_examples, HYPOTHESIS_EXAMPLES),
                derandomize=True,
                database=None,
                deadline=None,
                print_blob=False,
                phases=[Phase.explicit, Phase.generate],
            )

    def __exit__(self, *exc):
        if self.saved is not None:
            self.function._hypothesis_internal_use_settings = self.saved


@pytest.hookimpl(tryfirst=True)
def pytest_pyfunc_call(pyfuncitem):
    plan = getattr(pyfuncitem.config, "_leak_plan", None)
    if plan is None or pyfuncitem.get_closest_marker("no_leak_check"):
        return None
    warmups, runs = plan
    function = pyfuncitem.obj
    arguments = {name: pyfuncitem.funcargs[name] for name in pyfuncitem._fixtureinfo.argnames}

    def body():
        function(**arguments)

    with _FixedExamples(function):
        # Warm-up runs go through the measuring code too, so that nothing it creates once (after
        # the first clearing of the caches, say) lands in the measured runs.
        _measure(body, warmups)
        # Whatever exists now stays for the whole measurement: leave it out of every collection.
        gc.freeze()
        try:
            refs, blocks = _measure(body, runs)
            if _grows(refs, blocks):
                # Measured again, the first run may still fill a cache once (the session's very first
                # test meets lazily made state of the interpreter); a leak grows in the runs after it.
                refs, blocks = _measure(body, 2 * runs + 1)
                refs, blocks = refs[1:], blocks[1:]
        finally:
            gc.unfreeze()
    del arguments
    if _grows(refs, blocks):
        pytest.fail(
            f"leak: references {refs} (total {sum(refs)}), memory blocks {blocks} (total {sum(blocks)}) "
            f"per run after {warmups} warm-up runs",
            pytrace=False,
        )
    return True
