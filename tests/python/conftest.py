"""Fixtures shared by the test modules."""

from __future__ import annotations

import os
from pathlib import Path

import pytest
from hypothesis import HealthCheck, settings

from os_shim import build_shim, run_program


@pytest.fixture(scope="session")
def shim_library(tmp_path_factory) -> Path:
    library = build_shim(tmp_path_factory.mktemp("shim"))
    if library is None:
        pytest.skip("no C compiler to build the failing-OS shim")
    return library


@pytest.fixture
def run_with_shim(shim_library):
    """run(body, **params) -> (reported result, stderr) of a program under the shim.

    The vDSO is hidden unless vdso="pass", so the module's random requests
    reach the shim's getrandom(); with it, they go to the kernel's vDSO.
    """

    def run(body: str, vdso: str = "hide", **params):
        env = {"KESTRAND_SHIM_LIBRARY": str(shim_library), "KESTRAND_SHIM_VDSO": vdso}
        return run_program(body, params, str(shim_library), env)

    return run


# Hypothesis: a fixed number of examples per property in every run ("ci", the
# default), more with HYPOTHESIS_PROFILE=long. No deadline and no speed health
# check: an outcome must not depend on how fast a loaded machine is. Under
# emulation ("emulated", set by the arm64 stage) each example costs ten times
# as much; there the properties check the machine's code paths, while every
# native interpreter runs them with the full count.
settings.register_profile("ci", max_examples=300, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow], print_blob=True)
settings.register_profile("long", parent=settings.get_profile("ci"), max_examples=5000)
settings.register_profile("emulated", parent=settings.get_profile("ci"), max_examples=60)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "ci"))
