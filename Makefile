# merandol: build, test and benchmark.
#
# Every target runs with CPython 3.14 and its headers.  When the host has
# them (python3.14 on PATH and Python.h beside it) they are used directly;
# otherwise the targets run inside the project's Debian testing root, which
# tools/devroot builds on first use and caches outside the clone.

PYTHON := python3.14
HOST_HAS_PYTHON := $(shell command -v $(PYTHON) >/dev/null 2>&1 && \
	test -f "$$($(PYTHON) -c 'import sysconfig; print(sysconfig.get_paths()["include"])' 2>/dev/null)/Python.h" && echo yes)

ifneq ($(HOST_HAS_PYTHON),yes)

# No Python 3.14 here: run the same goals inside the root.  Variables given
# on the command line (QUICK=1, ARGS='...') travel in MAKEFLAGS.
.DEFAULT_GOAL := build
.PHONY: $(or $(MAKECMDGOALS),build)
$(or $(MAKECMDGOALS),build):
	@tools/devroot run $(MAKE) --no-print-directory $(MAKECMDGOALS)
# Make only the first goal run the root; the others ride along in it.
$(wordlist 2,$(words $(MAKECMDGOALS)),$(MAKECMDGOALS)): $(firstword $(MAKECMDGOALS))

else

BUILD := build/release
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo 'Unix Makefiles')
# The built module is importable from the clone's root through this path.
MODULE_PATH := PYTHONPATH=$(CURDIR)/$(BUILD)/module$${PYTHONPATH:+:$$PYTHONPATH}
RUN_PY := $(MODULE_PATH) $(PYTHON)
# The benchmark's interpreter sees the peers: Debian's through the system
# site packages, the package index's installed by tools/bench-venv.
BENCH_VENV := $(or $(MERANDOL_CACHE),/var/cache/merandol)/bench-venv
BENCH_PY := $(MODULE_PATH) $(BENCH_VENV)/bin/python

.DEFAULT_GOAL := build
.PHONY: build test bench bench-peers bench-instr python demo typecheck wheel test-wheel clean

$(BUILD)/build.ninja $(BUILD)/Makefile:
	cmake -S . -B $(BUILD) -G "$(GENERATOR)" -DPython_EXECUTABLE=$$(command -v $(PYTHON)) >/dev/null

build: $(if $(filter Ninja,$(GENERATOR)),$(BUILD)/build.ninja,$(BUILD)/Makefile)
	cmake --build $(BUILD)

# Core tests through ctest, then the module's tests; pytest's summary last.
test: build
	cd $(BUILD) && ctest --output-on-failure -j2
	$(RUN_PY) -m pytest tests/module $(PYTEST_ARGS)

bench-peers:
	@PYTHON=$(PYTHON) tools/bench-venv $(BENCH_VENV)

# Timings against datetime and the peers: a table, build/bench/results.json
# and results.png.  QUICK=1 makes it a run of under a minute.
bench: build bench-peers
	$(BENCH_PY) benchmarks/bench.py $(if $(QUICK),--quick)

# Instructions per call of each merandol operation, under callgrind.
bench-instr: build
	$(RUN_PY) benchmarks/instructions.py

python: build
	$(RUN_PY) $(ARGS)

demo: build
	$(RUN_PY) examples/tour.py

# The typed tour uses every member: strict mypy against the stubs, then the
# stubs against the built module.
typecheck: build
	MYPYPATH=stubs $(PYTHON) -m mypy --strict --no-incremental examples/tour.py
	MYPYPATH=stubs $(RUN_PY) -m mypy.stubtest merandol

# Built from the sdist, as pip would, without network access.
wheel:
	rm -rf build/dist
	$(PYTHON) -m build --no-isolation --outdir build/dist . >build/wheel.log 2>&1 || { tail -n 30 build/wheel.log; exit 1; }
	@ls -l build/dist

# The installed wheel, not the build tree, under the whole Python suite and
# strict mypy with the shipped stubs.
WHEEL_VENV := build/wheel-venv
test-wheel: wheel
	rm -rf $(WHEEL_VENV)
	$(PYTHON) -m venv --system-site-packages $(WHEEL_VENV)
	$(WHEEL_VENV)/bin/python -m pip install -q --no-index --no-deps build/dist/*.whl
	cd build && MERANDOL_EXPECT_INSTALLED=1 $(CURDIR)/$(WHEEL_VENV)/bin/python -m pytest -q -p no:cacheprovider $(CURDIR)/tests/module
	cd build && $(CURDIR)/$(WHEEL_VENV)/bin/python -m mypy --strict --no-incremental $(CURDIR)/examples/tour.py

clean:
	rm -rf build

endif
