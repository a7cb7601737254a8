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

.PHONY: fuzz demo test test-cpp test-python test-asan build build-cpp deps system-packages venv bench bench-full bench-cpp bench-venv clean

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

## fuzz: random inputs through all four entry points for FUZZ_SECONDS (default 300)
FUZZ_SECONDS ?= 300
fuzz: build
	$(PY) tests/fuzz/fuzz_pipeline.py --seconds $(FUZZ_SECONDS)

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

## bench: ours against the peers on the small and medium workloads (< 10 min);
## a run is capped at 60 s, repeats stop after 15 s. Figures in bench/results/.
BENCH_VENV := bench/.venv
BENCH_PY := $(BENCH_VENV)/bin/python
BENCH_ARGS = --ours-python $(abspath $(PY)) --stage-exe build/bench/stage_breakdown
bench: build bench-venv bench-cpp
	$(PY) bench/golden.py
	$(BENCH_PY) bench/run.py $(BENCH_ARGS) --sizes small,medium --cap 60 --repeat-budget 15
	$(PY) bench/batch_speedup.py

## bench-full: also the large workloads; 120 s cap per run, five runs unless
## they take more than 120 s together
bench-full: build bench-venv bench-cpp
	$(BENCH_PY) bench/run.py $(BENCH_ARGS) --sizes small,medium,large --cap 120 --repeat-budget 120

bench-venv: $(BENCH_VENV)/.installed

$(BENCH_VENV)/.installed: bench/requirements.txt | system-packages
	$(PYTHON) -m venv $(BENCH_VENV)
	$(BENCH_PY) -m pip install --quiet --disable-pip-version-check -r bench/requirements.txt
	touch $@

bench-cpp: deps system-packages
	cmake -S . -B build/bench -G Ninja -DPython_EXECUTABLE=$(abspath $(PY)) -DCMAKE_BUILD_TYPE=Release -DSTROKEGRAPH_BUILD_BENCH=ON
	cmake --build build/bench -j $(JOBS) --target stage_breakdown tiled_run

clean:
	rm -rf build
