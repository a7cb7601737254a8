# Set-up, build and test. Every target installs what it needs and is missing:
#   Debian packages: g++, libgtest-dev (tools/install_system_packages.sh)
#   .venv:           the pinned tools of requirements-dev.txt
#   third-party C++: Clipper2 and CDT sources, hash-checked (tools/fetch_deps.py)
#   test data:       a real street network, hash-checked (tools/fetch_street_sample.py)
# Builds are cached under build/, so a second run only rebuilds what changed.

PYTHON ?= python3
VENV := .venv
PY := $(VENV)/bin/python
export PATH := $(abspath $(VENV))/bin:$(PATH)
STROKEGRAPH_DEPS_DIR ?= $(or $(XDG_CACHE_HOME),$(HOME)/.cache)/strokegraph/deps
export STROKEGRAPH_DEPS_DIR
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_COMMON := -G Ninja -DPython_EXECUTABLE=$(abspath $(PY)) -DSTROKEGRAPH_BUILD_TESTS=ON

.PHONY: docs fuzz fuzz-native fuzz-packages demo bench-cli test test-cpp test-python test-asan build build-cpp deps system-packages venv bench bench-full bench-real bench-cpp bench-venv clean

## demo: build, then find the centerlines of the bundled sample drawing, print a
## summary and draw it into docs/demo.png (matplotlib, Agg backend)
demo: build
	MPLBACKEND=Agg $(PY) examples/demo.py examples/sample_drawing.json --png docs/demo.png
	$(VENV)/bin/strokegraph trace examples/sample_drawing.json -o build/demo/sample_drawing.svg --over-input
	MPLBACKEND=Agg $(VENV)/bin/strokegraph plot examples/sample_drawing.json -o build/demo/sample_drawing.png
	@echo "wrote build/demo/sample_drawing.svg and build/demo/sample_drawing.png"

## docs: the manual (docs/, mkdocs.yml: MkDocs, Material, mkdocstrings) built into
## build/docs, strictly (a broken link or a missing reference fails)
docs: venv
	NO_MKDOCS_2_WARNING=1 $(PY) -m mkdocs build --strict --site-dir build/docs

## test: build, then run the C++ and the Python tests
test: test-cpp test-python

TEST_WORKLOADS := sketch-small traces-small lettering-small lettering-medium
test-cpp: build-cpp $(TEST_WORKLOADS:%=build/cpp/workloads/%.bin)
	build/cpp/strokegraph_tests --gtest_brief=1

# Bench workloads for the C++ tests that compare against them.
build/cpp/workloads/%.bin: bench/workloads.py | venv
	@mkdir -p $(@D)
	$(PY) bench/workloads.py $(subst -, ,$*) $(@:.bin=.json)

# The street network the GIS tests and the tutorial notebook trace (pinned, hash-checked).
STREET_SAMPLE := build/data/apalachicola_original.parquet
$(STREET_SAMPLE): tools/fetch_street_sample.py | venv
	$(PY) tools/fetch_street_sample.py --dest $(@D) >/dev/null

# The wheel too (built once, again only when a tracked file changed): tests/python/test_wheel.py
# installs it into a fresh venv.
test-python: build wheel $(STREET_SAMPLE)
	STROKEGRAPH_STREETS=$(abspath $(STREET_SAMPLE)) $(PY) -m pytest tests/python -q

## test-asan: the C++ tests under AddressSanitizer and UBSan
test-asan: deps system-packages
	cmake -S . -B build/asan $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DSTROKEGRAPH_SANITIZE=ON
	cmake --build build/asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 build/asan/strokegraph_tests --gtest_brief=1

## fuzz: random inputs through all four entry points for FUZZ_SECONDS (default 300)
FUZZ_SECONDS ?= 300
fuzz: build
	$(PY) tests/fuzz/fuzz_pipeline.py --seconds $(FUZZ_SECONDS)

## fuzz-native: libFuzzer targets (ASan+UBSan, clang) on the core's entry points,
## FUZZ_SECONDS split across them; seeds from the bench workloads, corpus and
## failing inputs kept under build/fuzz/
fuzz-native: build fuzz-packages
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DPython_EXECUTABLE=$(abspath $(PY)) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTROKEGRAPH_BUILD_FUZZ=ON
	cmake --build build/fuzz -j $(JOBS)
	$(PY) tests/fuzz/native/make_seeds.py build/fuzz/seeds
	tests/fuzz/native/run.sh build/fuzz build/fuzz/seeds $(FUZZ_SECONDS)

fuzz-packages:
	@tools/install_system_packages.sh --fuzz

## build: the Python package, installed into .venv
build: deps
	$(PY) -m pip install --quiet --no-build-isolation --no-deps .

## sdist: dist/strokegraph-VERSION.tar.gz, carrying the pinned Clipper2 and CDT
## sdists (hash-checked, staged in third_party/ only while it is packed), so that
## building it needs no network
VERSION := $(shell sed -n 's/^version = "\(.*\)"/\1/p' pyproject.toml)
SDIST := dist/strokegraph-$(VERSION).tar.gz
.PHONY: sdist wheel
sdist: $(SDIST)

$(SDIST): $(wildcard $(shell git ls-files 2>/dev/null)) | venv
	rm -rf third_party
	$(PY) tools/fetch_deps.py --bundle third_party >/dev/null
	$(PY) -c 'from scikit_build_core.build import build_sdist; build_sdist("dist")' \
	  || { rm -rf third_party; exit 1; }
	rm -rf third_party
	@tar -tzf $@ | grep -q '/third_party/pythoncdt-.*\.tar\.gz$$' || { echo "$@ lacks the bundled sources"; exit 1; }

## wheel: a wheel built from that sdist with the network off (pip --no-index, an
## empty third-party cache), repaired by auditwheel for this platform's manylinux
## tag, in dist/; build/wheel/wheel.path names it
WHEEL_PATH := build/wheel/wheel.path
wheel: $(WHEEL_PATH)

$(WHEEL_PATH): $(SDIST)
	rm -rf build/wheel
	mkdir -p build/wheel/raw build/wheel/repaired build/wheel/no-deps
	PIP_NO_INDEX=1 STROKEGRAPH_DEPS_DIR=$(abspath build/wheel/no-deps) CMAKE_BUILD_PARALLEL_LEVEL=$(JOBS) \
	  $(PY) -m pip wheel --quiet --no-deps --no-build-isolation --wheel-dir build/wheel/raw $(SDIST)
	$(VENV)/bin/auditwheel repair --wheel-dir build/wheel/repaired build/wheel/raw/*.whl
	cp build/wheel/repaired/*.whl dist/
	ls $(abspath dist)/$$(cd build/wheel/repaired && ls *.whl) > $@

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
## a run is capped at 60 s, repeats stop after 15 s. Then the quality sweep
## over radius / feature-size ratios (raw and clean calls against the peers),
## then the real-drawing bench (bench-real) and the clean-up's share of the call
## on its drawings (bench/real_share.py). Figures in bench/results/.
BENCH_VENV := bench/.venv
BENCH_PY := $(BENCH_VENV)/bin/python
BENCH_ARGS = --ours-python $(abspath $(PY)) --stage-exe build/bench/stage_breakdown
bench: build bench-venv bench-cpp
	$(PY) bench/golden.py
	$(BENCH_PY) bench/run.py $(BENCH_ARGS) --sizes small,medium --cap 60 --repeat-budget 15
	$(PY) bench/batch_speedup.py
	$(PY) bench/hatching.py
	$(BENCH_PY) bench/quality_sweep.py --ours-python $(abspath $(PY)) --share-exe build/bench/cleanup_share
	$(BENCH_PY) -m pytest -q -p no:cacheprovider bench/test_real_truth.py
	$(BENCH_PY) bench/real_drawings.py --ours-python $(abspath $(PY))
	$(BENCH_PY) bench/real_share.py

## bench-real: ours and the peers on real drawings (Hershey glyphs brush-like and
## messy, a street network; each also drawn twice) against their true graphs;
## QUICK=1 for one face's glyphs and the streets drawn once
bench-real: build bench-venv
	$(BENCH_PY) -m pytest -q -p no:cacheprovider bench/test_real_truth.py
	$(BENCH_PY) bench/real_drawings.py --ours-python $(abspath $(PY)) $(if $(QUICK),--quick)

## bench-full: also the large workloads; 120 s cap per run, five runs unless
## they take more than 120 s together
bench-full: build bench-venv bench-cpp
	$(BENCH_PY) bench/run.py $(BENCH_ARGS) --sizes small,medium,large --cap 120 --repeat-budget 120

## bench-cli: the command line over 1,000 generated SVG files (--jobs 1 and 2) and
## the Dask route against the batch in one process (2,000 drawings)
bench-cli: build
	$(PY) bench/cli_bench.py --files 1000 --drawings 2000

bench-venv: $(BENCH_VENV)/.installed

$(BENCH_VENV)/.installed: bench/requirements.txt | system-packages
	$(PYTHON) -m venv $(BENCH_VENV)
	$(BENCH_PY) -m pip install --quiet --disable-pip-version-check -r bench/requirements.txt
	touch $@

bench-cpp: deps system-packages
	cmake -S . -B build/bench -G Ninja -DPython_EXECUTABLE=$(abspath $(PY)) -DCMAKE_BUILD_TYPE=Release -DSTROKEGRAPH_BUILD_BENCH=ON
	cmake --build build/bench -j $(JOBS) --target stage_breakdown tiled_run cleanup_share clean_memory

clean:
	rm -rf build
