# make demo   – set up .venv, build and install the package, run the H2 demo
# make test   – the same build (reused when make demo made it), the test and lint tools, style, C++ and Python tests
# make dev    – in-place build of the extension modules for PYTHONPATH=python
# make lint   – ruff (lint and format) and clang-format in check mode
VENV    ?= .venv
PY      := $(VENV)/bin/python
WORKDIR ?= demo-output
DEVPY   ?= $(PY)

.PHONY: setup install install-test demo test test-cxx test-python bench dev lint clean

# What the build needs, installed once into the environment itself.
BUILD_DEPS = "scikit-build-core>=0.10" "pybind11>=2.12" cmake ninja

$(PY):
	"$$(scripts/find-python)" -m venv $(VENV)
	$(PY) -m pip install --upgrade pip
	$(PY) -m pip install $(BUILD_DEPS)

# No isolated build environment: CMake then finds the same interpreter and
# pybind11 each time and keeps its build directory (build/<wheel tag>), so
# an install after the first recompiles only what changed.
PIP_INSTALL = $(PY) -m pip install --no-build-isolation

# The package and what it needs at run time: all the demo uses.
install: $(PY)
	$(PIP_INSTALL) .

# The same build, with the test and lint tools.
install-test: $(PY)
	$(PIP_INSTALL) ".[test,lint]"

setup: install

demo: install
	$(VENV)/bin/brimvale-chemistry --demo h2 --workdir $(WORKDIR)

test: install-test lint test-cxx test-python

# The C++ tests load the OpenBLAS of the scipy-openblas32 wheel (the test
# extra), found through $(DEVPY); without it CMake looks for a system LAPACK.
TEST_LAPACK = $$($(DEVPY) -c 'import os, scipy_openblas32 as b; print(os.path.join(b.get_lib_dir(), b.get_library(True)))' 2>/dev/null)

test-cxx:
	cmake -S . -B build/cxx-tests -DBVC_BUILD_CXX_TESTS=ON -DCMAKE_BUILD_TYPE=Release \
	  -DBVC_TEST_LAPACK="$(TEST_LAPACK)" >/dev/null
	cmake --build build/cxx-tests -j 2
	ctest --test-dir build/cxx-tests --output-on-failure

# Runs against the installed package, never the source tree.
test-python:
	$(PY) -m pytest tests

bench: install-test
	for b in bench/bench_*.py; do $(PY) $$b || exit 1; done

dev:
	cmake -S . -B build/dev -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$$($(DEVPY) -c 'import sys; print(sys.executable)') \
	  -Dpybind11_DIR=$$($(DEVPY) -m pybind11 --cmakedir) >/dev/null
	cmake --build build/dev

# Style checks only, nothing rewritten: ruff and clang-format from the
# environment of $(DEVPY) (pip install ".[lint]").
LINTBIN = $(dir $(DEVPY))
lint:
	$(LINTBIN)ruff check .
	$(LINTBIN)ruff format --check .
	git ls-files 'native/*.cpp' 'native/*.hpp' | xargs $(LINTBIN)clang-format --dry-run --Werror

clean:
	rm -rf build $(VENV)
