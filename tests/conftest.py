"""Fixtures shared by every test folder."""

import os

import pytest

import brimvale_chemistry


@pytest.fixture
def child_env():
    """The environment of a child interpreter that imports the package these tests import."""
    env = dict(os.environ)
    package_root = os.path.dirname(os.path.dirname(brimvale_chemistry.__file__))
    env["PYTHONPATH"] = package_root + os.pathsep + env.get("PYTHONPATH", "")
    return env
