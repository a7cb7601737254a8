# Set-up, build and test. Every target installs what it needs and is missing:
#   Debian packages: g++, libgtest-dev (tools/install_system_packages.sh)
#   .venv:           the pinned tools of requirements-dev.txt
#   third-party C++: Clipper2 and CDT sources, hash-checked (tools/fetch_deps.py)
# Builds are cached under build/, so a second run only rebuilds what changed.

PYTHON ?= python3
VENV := .venv
PY := $(VENV)/bin/python
export PATH := $(abspath $(VENV))/bin:$(PATH)
STROKEGRAPH_DEPS_DIR ?= $(or $(XDG_CACHE_HOME),$(HOME)/.cache)/strokegraph/deps
export STROKEGRAPH_DEPS_DIR
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_COMMON := -G Ninja -DPython_EXECUTABLE=$(abspath $(PY)) -DSTROKEGRAPH_BUILD_TESTS=ON

.PHONY: demo test test-cpp test-python test-asan build build-cpp deps system-packages venv bench clean

## demo: build, then topologize the bundled sample drawing and print a summary
demo: build
	$(PY) examples/demo.py examples/sample_drawing.json

## test: build, then run the C++ and the Python tests
test: test-cpp test-python

test-cpp: build-cpp
	build/cpp/strokegraph_tests --gtest_brief=1

test-python: build
	$(PY) -m pytest tests/python -q

## test-asan: the C++ tests under AddressSanitizer and UBSan
test-asan: deps system-packages
	cmake -S . -B build/asan $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DSTROKEGRAPH_SANITIZE=ON
	cmake --build build/asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 build/asan/strokegraph_tests --gtest_brief=1

## build: the Python package, installed into .venv
build: deps
	$(PY) -m pip install --quiet --no-build-isolation --no-deps .

build-cpp: deps system-packages
	cmake -S . -B build/cpp $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/cpp -j $(JOBS)

deps: $(VENV)/.installed
	$(PY) tools/fetch_deps.py --dest "$(STROKEGRAPH_DEPS_DIR)" >/dev/null

venv: $(VENV)/.installed

$(VENV)/.installed: requirements-dev.txt | system-packages
	$(PYTHON) -m venv $(VENV)
	$(PY) -m pip install --quiet --disable-pip-version-check -r requirements-dev.txt
	touch $@

system-packages:
	@tools/install_system_packages.sh

clean:
	rm -rf build
