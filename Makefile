# merandol: build, test and benchmark.
#
# Every target runs with one CPython and its headers: PY=3.13, PY=3.14 (the
# default, the reference that the README's figures are quoted for) or
# PY=3.15.  When the host has them (pythonX.Y on PATH and Python.h beside
# it) they are used directly; otherwise the targets run inside the project's
# Debian testing root, which tools/devroot builds on first use and caches
# outside the clone.

PYTHONS := 3.13 3.14 3.15
PY ?= 3.14
ifeq ($(filter $(PY),$(PYTHONS)),)
$(error PY=$(PY): merandol is built for CPython $(PYTHONS))
endif
PYTHON := python$(PY)
HOST_HAS_PYTHON := $(shell command -v $(PYTHON) >/dev/null 2>&1 && \
	test -f "$$($(PYTHON) -c 'import sysconfig; print(sysconfig.get_paths()["include"])' 2>/dev/null)/Python.h" && echo yes)

ifneq ($(HOST_HAS_PYTHON),yes)

# No such Python here: run the same goals inside the root.  Variables given
# on the command line (PY=3.13, QUICK=1, ARGS='...') travel in MAKEFLAGS.
.DEFAULT_GOAL := build
.PHONY: $(or $(MAKECMDGOALS),build)
$(or $(MAKECMDGOALS),build):
	@tools/devroot run $(MAKE) --no-print-directory $(MAKECMDGOALS)
# Make only the first goal run the root; the others ride along in it.
$(wordlist 2,$(words $(MAKECMDGOALS)),$(MAKECMDGOALS)): $(firstword $(MAKECMDGOALS))

else

comma := ,
CACHE := $(or $(MERANDOL_CACHE),/var/cache/merandol)
# Every build folder of another version than the reference carries it, so
# that the versions' builds live side by side.
V := $(if $(filter 3.14,$(PY)),,-$(PY))
BUILD := build/release$(V)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo 'Unix Makefiles')
# The built module is importable from the clone's root through this path.
MODULE_PATH := PYTHONPATH=$(CURDIR)/$(BUILD)/module$${PYTHONPATH:+:$$PYTHONPATH}
RUN_PY := $(MODULE_PATH) $(PYTHON)
# The suite's interpreter sees Debian's packages through the system site
# packages, and what Debian lacks for this version (numpy for 3.13, pandas
# for 3.13 and 3.15) from the package index, installed by tools/python-venv.
# pandas is the oracle of a few column tests: the release that Debian ships
# for 3.14 where the index has it, and the first with wheels for 3.15 there.
# pydantic, msgspec and orjson are what merandol_interop's hooks serve,
# from the index on every version; MERANDOL_SERDE_REQUIRED makes their
# tests fail, not skip, where one is missing.
TEST_NEEDS := "numpy numpy~=2.4.0" \
	"pandas pandas~=2.3.0; python_version < '3.15'" "pandas pandas~=3.1.0; python_version >= '3.15'" \
	"pydantic pydantic~=2.14" "msgspec msgspec~=0.22" "orjson orjson~=3.13"
TEST_VENV := $(CACHE)/test-venv-$(PY)
# Of the pytest plugins that Debian ships, the suite uses hypothesis' alone;
# the others are not loaded, as their compiled parts may not fit every
# version (time_machine's has no 3.13 build).
TEST_PY := $(MODULE_PATH) PYTEST_DISABLE_PLUGIN_AUTOLOAD=1 MERANDOL_SERDE_REQUIRED=1 $(TEST_VENV)/bin/python
MODULE_SUITE := -m pytest -p _hypothesis_pytestplugin tests/module -rs $(PYTEST_ARGS)
# The benchmark's interpreter sees the peers: Debian's through the system
# site packages, the package index's installed by tools/python-venv, which
# also brings those whose compiled parts Debian builds for 3.14 alone.
# polars' own distribution is Python; it brings its compiled part through a
# runtime distribution that it requires.  Each is pinned to one minor
# release: the benchmark calls their APIs directly.
BENCH_NEEDS := $(TEST_NEEDS) "pendulum._pendulum pendulum~=3.2" "ciso8601 ciso8601~=2.3" \
	"whenever whenever~=0.11.0" "pyarrow pyarrow~=26.0" "polars polars~=2.2" "duckdb duckdb~=2.0"
BENCH_VENV := $(CACHE)/bench-venv$(V)
BENCH_PY := $(MODULE_PATH) $(BENCH_VENV)/bin/python
# The documentation site: Debian's Sphinx and MyST through the system site
# packages, and the theme, which Debian lacks, from the package index.
DOCS_NEEDS := "furo furo~=2025.12"
DOCS_VENV := $(CACHE)/docs-venv$(V)

.DEFAULT_GOAL := build
.PHONY: build build-module test test-module test-venv docs bench bench-native bench-peers bench-instr bench-check bench-baseline python demo typecheck wheel test-wheel wheel-suite lint clean
.PHONY: test-asan fuzz test-refleak test-valgrind test-ft coverage test-nomemory test-tsan ready envs interpreters

# Nothing: where the targets run in the project's root, `make ready` makes
# the root (or tops it up) and no more; .ci/run calls it before its lanes.
ready:
	@true

CONFIGURED := $(if $(filter Ninja,$(GENERATOR)),$(BUILD)/build.ninja,$(BUILD)/Makefile)
$(CONFIGURED):
	cmake -S . -B $(BUILD) -G "$(GENERATOR)" -DPython_EXECUTABLE=$$(command -v $(PYTHON)) \
		-DMERANDOL_PYTHON_VERSION=$(PY) >/dev/null

build: $(CONFIGURED)
	cmake --build $(BUILD)

# The two extension modules alone, without the core tests.
build-module: $(CONFIGURED)
	cmake --build $(BUILD) --target merandol merandol_interop

test-venv:
	@PYTHON=$(PYTHON) tools/python-venv $(TEST_VENV) $(TEST_NEEDS)

# Core tests through ctest, then the module's tests; pytest's summary last,
# with the reason of every skip.  The core does not depend on the
# interpreter: test-module runs the module's tests alone, as CI does for the
# versions other than the reference.  The suite runs with the benchmark's
# interpreter when it has been made (make bench-peers): it has the suite's
# modules and pyarrow, polars and DuckDB besides, which the Arrow tests, the
# README, the site's pages and the Dask example use.  In CI (CI=true) it is made first, or
# the run fails, and a test that skips for a module it cannot import fails.
# WITH_PEERS picks the benchmark's interpreter where it is made, else $(1);
# where it is made, it is completed first, as the suite's own is.
WITH_PEERS = $$(if [ -x $(BENCH_VENV)/bin/python ]; then echo $(BENCH_VENV)/bin/python; else echo $(1); fi)
IN_CI := $(filter true,$(CI))
test: build test-venv $(if $(or $(IN_CI),$(wildcard $(BENCH_VENV)/bin/python)),bench-peers)
	cd $(BUILD) && ctest --output-on-failure -j2
	$(MODULE_PATH) PYTEST_DISABLE_PLUGIN_AUTOLOAD=1 MERANDOL_SERDE_REQUIRED=1 $(if $(IN_CI),MERANDOL_NO_MODULE_SKIPS=1) \
		$(call WITH_PEERS,$(TEST_VENV)/bin/python) $(MODULE_SUITE)

test-module: build-module test-venv
	$(TEST_PY) $(MODULE_SUITE)

# The site, from docs/ into build/docs/html: every warning is an error, and
# so is every cross-reference that does not resolve.  The reference is read
# from the built modules.
docs: build-module
	@PYTHON=$(PYTHON) tools/python-venv $(DOCS_VENV) $(DOCS_NEEDS)
	$(MODULE_PATH) $(DOCS_VENV)/bin/python -m sphinx -W --keep-going -n -q -b html docs build/docs/html

bench-peers:
	@PYTHON=$(PYTHON) tools/python-venv $(BENCH_VENV) $(BENCH_NEEDS)

# Every environment that CI's suites use, made before they start: the
# suite's for each version, the benchmark's and the docs'.  With CI=true (or
# MERANDOL_VENV_STRICT=1) one that cannot be completed fails.
envs:
	@for v in $(PYTHONS); do $(MAKE) --no-print-directory test-venv PY=$$v || exit 1; done
	@$(MAKE) --no-print-directory bench-peers PY=3.14
	@PYTHON=$(PYTHON) tools/python-venv $(DOCS_VENV) $(DOCS_NEEDS)

# The free-threaded interpreter and the ThreadSanitizer one, each built once
# per machine (test-ft and test-tsan also build theirs when it is missing);
# .ci/run starts this at its outset, beside the first steps.
interpreters:
	tools/python-ft ensure
	tools/python-ft ensure tsan

# Timings against datetime and the peers: a table, build/bench/results.json
# and results.png (build/bench-3.13/ and so on for the other versions).
# QUICK=1 makes it a run of under a minute; ARGS passes options on
# (ARGS=--columns-only, ARGS=--peers).
bench: build-module bench-peers
	$(BENCH_PY) benchmarks/bench.py --out build/bench$(V) $(if $(QUICK),--quick) $(ARGS)

# The RFC 3339 column readers without Python, in ns per element beside a
# copy of the same text buffer; ARGS=COUNT sets the number of texts.
bench-native: build
	$(BUILD)/bench_fast_rfc3339 $(ARGS)

# Instructions per call of each merandol operation, under callgrind; then
# whether the README's table quotes this count (it quotes the baseline's on
# the reference version: bench-baseline rewrites it with the baseline).
bench-instr: build-module
	$(RUN_PY) benchmarks/instructions.py --out build/bench$(V)
	@$(PYTHON) benchmarks/readme.py --check instructions || true

# The guard against regressions: instructions per call against the baseline
# committed in benchmarks/baseline.json; fails when any operation costs more
# than 3% above it.  bench-baseline rewrites the baseline from a new count:
# commit it, deliberately, with the change that moved the figures.  The
# baseline is counted on the reference version alone.
ifneq ($(and $(V),$(filter bench-check bench-baseline,$(MAKECMDGOALS))),)
$(error the instruction-count baseline is CPython 3.14's: run bench-check and bench-baseline without PY)
endif
bench-check: bench-instr
	$(PYTHON) benchmarks/check.py

bench-baseline: bench-instr
	$(PYTHON) benchmarks/check.py --update
	$(PYTHON) benchmarks/readme.py instructions

python: build
	$(RUN_PY) $(ARGS)

demo: build
	$(RUN_PY) examples/tour.py

# The typed tour uses every member: strict mypy against the stubs, then the
# stubs against the built module.
typecheck: build
	MYPYPATH=stubs $(PYTHON) -m mypy --strict --no-incremental examples/tour.py
	MYPYPATH=stubs $(RUN_PY) -m mypy.stubtest merandol merandol_interop

# The sdist, and from it one wheel per version as pip would build it
# (without network access), each repaired by auditwheel: checked against the
# manylinux2014 policy (glibc 2.17 and GCC 4.8's libstdc++ and libgcc_s) and
# tagged for it, or refused.  build/dist holds the sdist and the repaired
# wheels; the wheels as built stay in build/dist-raw.
MANYLINUX := manylinux_2_17_$(shell uname -m)
SDIST_TREE := build/sdist-tree
wheel:
	rm -rf build/dist build/dist-raw $(SDIST_TREE)
	mkdir -p $(SDIST_TREE)
	$(PYTHON) -m build --no-isolation --sdist --outdir build/dist-raw . >build/wheel.log 2>&1 \
		|| { tail -n 30 build/wheel.log; exit 1; }
	tar -xzf build/dist-raw/*.tar.gz -C $(SDIST_TREE)
	for v in $(PYTHONS); do \
		echo "wheel for CPython $$v" >>build/wheel.log; \
		python$$v -m build --no-isolation --wheel --outdir build/dist-raw $(SDIST_TREE)/* >>build/wheel.log 2>&1 \
			|| { tail -n 30 build/wheel.log; exit 1; }; \
	done
	for wheel in build/dist-raw/*.whl; do \
		$(PYTHON) -m auditwheel repair --plat $(MANYLINUX) --wheel-dir build/dist $$wheel >>build/wheel.log 2>&1 \
			|| { tail -n 30 build/wheel.log; exit 1; }; \
	done
	cp build/dist-raw/*.tar.gz build/dist/
	@ls -l build/dist

# Each version's repaired wheel, installed, not the build tree, under the
# whole Python suite and strict mypy with the shipped stubs; then the sdist
# built and installed by pip in a fresh environment of each version; last,
# the wheels' set and tags, and what each asks of the system: auditwheel's
# verdict and the newest symbol versions.
test-wheel: wheel
	@for v in $(PYTHONS); do $(MAKE) --no-print-directory wheel-suite PY=$$v || exit 1; done
	MERANDOL_DIST=$(CURDIR)/build/dist PYTEST_DISABLE_PLUGIN_AUTOLOAD=1 \
		$(PYTHON) -m pytest -q -p no:cacheprovider tests/packaging/test_wheels.py
	@for wheel in build/dist/*.whl; do $(PYTHON) tools/wheel-report $$wheel || exit 1; done

# One version's part of test-wheel.  The environment is new but sees, as the
# suite's own does, what the package index added for this version (a .pth
# naming the suite's environment's site packages); mypy is the reference
# interpreter's, checking against this environment and version.
WHEEL_VENV := build/wheel-venv-$(PY)
WHEEL_PY := $(CURDIR)/$(WHEEL_VENV)/bin/python
wheel-suite: test-venv
	rm -rf $(WHEEL_VENV)
	$(PYTHON) -m venv --system-site-packages $(WHEEL_VENV)
	$(TEST_VENV)/bin/python -c 'import sysconfig; print(sysconfig.get_path("purelib"))' \
		>$$($(WHEEL_PY) -c 'import sysconfig; print(sysconfig.get_path("purelib"))')/merandol-test-needs.pth
	$(WHEEL_PY) -m pip install -q --no-index --no-deps build/dist/*-cp$(subst .,,$(PY))-*.whl
	cd build && MERANDOL_EXPECT_INSTALLED=1 PYTEST_DISABLE_PLUGIN_AUTOLOAD=1 \
		$(WHEEL_PY) -m pytest -p _hypothesis_pytestplugin -q -rs -p no:cacheprovider $(CURDIR)/tests/module
	cd build && python3.14 -m mypy --strict --no-incremental --python-executable $(WHEEL_PY) --python-version $(PY) \
		$(CURDIR)/examples/tour.py
	MERANDOL_DIST=$(CURDIR)/build/dist PYTEST_DISABLE_PLUGIN_AUTOLOAD=1 \
		$(PYTHON) -m pytest -q -p no:cacheprovider tests/packaging/test_sdist.py

# Conventions: clang-format in check mode, clang-tidy on the core and the
# module (one unit at a time; its analyser is not run), ruff on the Python
# that git tracks: files left in the clone beside it are nobody's to judge.
# ruff takes the tracked scripts without .py that pyproject.toml names.
LINTED_PYTHON = $(shell git ls-files -- '*.py' '*.pyi' tools/wheel-report tools/forwarding-stalls)
FORMATTED = $(wildcard core/*.[hc]pp binding/*.[hc]pp module/*.[hc]pp interop/*.[hc]pp interop/*/*.[hc]pp tests/core/*.cpp tests/declare/*.cpp fuzz/*.[hc]pp tools/*.cpp)
lint: build
	clang-format-21 --dry-run -Werror $(FORMATTED)
	@for f in core/*.cpp binding/*.cpp module/*.cpp interop/*.cpp interop/*/*.cpp; do \
		out=$$(clang-tidy-21 -p $(BUILD) --quiet "$$f" 2>&1) || { echo "$$out"; exit 1; }; \
	done; echo "clang-tidy: clean"
	ruff check $(LINTED_PYTHON)
	ruff format --check $(LINTED_PYTHON)

clean:
	rm -rf build

# --- Hardening ----------------------------------------------------------------
# Each target has its own build folder under build/ and configures it on every
# run (cheap once it exists).  `configure` takes the folder and the settings.
CLANGXX := clang++-21
SYMBOLIZER := /usr/lib/llvm-21/bin/llvm-symbolizer
configure = cmake -S . -B $(1) -G "$(GENERATOR)" $(2) >/dev/null
WITH_PYTHON = -DPython_EXECUTABLE=$$(command -v $(PYTHON))
# Quiet pytest over every module test, without writing a cache into the clone.
PYTEST := -m pytest tests/module -q -rs -p no:cacheprovider
# The same with the benchmark's interpreter, where the Arrow tests find
# pyarrow, polars and DuckDB, when it has been made (CI makes it first).
PEERS_PYTEST := PYTEST_DISABLE_PLUGIN_AUTOLOAD=1 $(call WITH_PEERS,$(PYTHON)) $(PYTEST) -p _hypothesis_pytestplugin

# AddressSanitizer and UndefinedBehaviorSanitizer.  The core tests run with
# leak detection.  The module is loaded by the ordinary interpreter with the
# sanitizer runtime preloaded and Python's allocator replaced by malloc, so
# that every object is checked; the interpreter's own allocations still alive
# at exit are not ours to judge, so leak detection is off there.  Released
# instances go back to the allocator rather than to the free lists, so that a
# use after release is caught (also under valgrind).
ASAN := build/asan$(V)
SANITIZER_ENV := ASAN_SYMBOLIZER_PATH=$(SYMBOLIZER) UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
test-asan:
	$(call configure,$(ASAN),$(WITH_PYTHON) -DCMAKE_CXX_COMPILER=$(CLANGXX) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DMERANDOL_SANITIZE=address$(comma)undefined -DCMAKE_CXX_FLAGS=-DMERANDOL_NO_FREE_LISTS)
	cmake --build $(ASAN)
	cd $(ASAN) && $(SANITIZER_ENV) ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j2
	$(SANITIZER_ENV) ASAN_OPTIONS=detect_leaks=0 PYTHONMALLOC=malloc \
		LD_PRELOAD=$$($(CLANGXX) -print-file-name=libclang_rt.asan-x86_64.so) \
		PYTHONPATH=$(CURDIR)/$(ASAN)/module $(PEERS_PYTEST)

# libFuzzer, FUZZ_SECONDS per target (the targets are listed in
# fuzz/CMakeLists.txt).  New inputs go to build/fuzz/corpus, crashes to
# build/fuzz/crashes; a crash found belongs in fuzz/corpus/<target>/.
FUZZ := build/fuzz
FUZZ_SECONDS ?= 60
fuzz:
	$(call configure,$(FUZZ),-DCMAKE_CXX_COMPILER=$(CLANGXX) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DMERANDOL_SANITIZE=address$(comma)undefined -DMERANDOL_FUZZ=ON -DMERANDOL_MODULE=OFF -DMERANDOL_TESTS=OFF)
	cmake --build $(FUZZ)
	$(SANITIZER_ENV) tools/fuzz $(FUZZ) $(FUZZ_SECONDS)

# The debug interpreter: the refcount and allocation checks of every member,
# then the whole suite.  Its extensions carry the debug ABI, so it has its
# own build.  Debian's python3.Xd headers are symlinks into python3.X except
# pyconfig.h, and g++ resolves a system include's own folder through the link:
# with -isystem the release pyconfig.h (no Py_DEBUG) would be read, so the
# interpreter's headers are taken with -I here.
DBG := build/debug$(V)
DBG_PYTHON := python$(PY)-dbg
test-refleak:
	$(call configure,$(DBG),-DPython_EXECUTABLE=$$(command -v $(DBG_PYTHON)) -DCMAKE_BUILD_TYPE=Debug \
		-DMERANDOL_TESTS=OFF -DCMAKE_NO_SYSTEM_FROM_IMPORTED=ON)
	cmake --build $(DBG)
	PYTHONPATH=$(CURDIR)/$(DBG)/module $(DBG_PYTHON) -m pytest tests/refleak -q -p no:cacheprovider
	MERANDOL_HYPOTHESIS=slow PYTHONPATH=$(CURDIR)/$(DBG)/module $(DBG_PYTHON) $(PYTEST)

# Every call of the catalogue with its Nth allocation failing, for N = 1, 2,
# ... until the call no longer reaches N: each run must end in the call's
# result, a MemoryError or its documented error, with the reference total
# and the allocated blocks back where they were.  The debug interpreter
# counts both; released instances go back to the allocator, so that each
# new instance is an allocation that can fail.
NOMEM := build/nomemory
test-nomemory:
	$(call configure,$(NOMEM),-DPython_EXECUTABLE=$$(command -v $(DBG_PYTHON)) -DCMAKE_BUILD_TYPE=Debug \
		-DMERANDOL_TESTS=OFF -DCMAKE_NO_SYSTEM_FROM_IMPORTED=ON -DCMAKE_CXX_FLAGS=-DMERANDOL_NO_FREE_LISTS)
	cmake --build $(NOMEM)
	PYTHONPATH=$(CURDIR)/$(NOMEM)/module $(DBG_PYTHON) -m pytest tests/nomemory -q -p no:cacheprovider $(PYTEST_ARGS)

# valgrind memcheck over the core tests and the catalogue's sweeps: every
# member fed arbitrary arguments (test_bad_input.py), and every call of the
# catalogue, on success and on each error path, from several threads
# (test_threads.py, which valgrind runs one thread at a time): any invalid
# access, read of an uninitialised value or definite leak fails.  Python's
# allocator is replaced by malloc so that memcheck sees every object.  The
# rest of the suite, half an hour under memcheck, runs the same members on
# other values, which ASan checks on every access.
VG := build/valgrind$(V)
VG_TESTS ?= tests/module/test_bad_input.py tests/module/test_threads.py
VALGRIND := valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=definite \
	--errors-for-leak-kinds=definite --suppressions=$(CURDIR)/tools/valgrind.supp
test-valgrind:
	$(call configure,$(VG),$(WITH_PYTHON) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-DMERANDOL_NO_FREE_LISTS)
	cmake --build $(VG)
	$(VALGRIND) $(VG)/tests/core/core_tests --gtest_brief=1
	MERANDOL_HYPOTHESIS=slow PYTHONMALLOC=malloc PYTHONPATH=$(CURDIR)/$(VG)/module $(VALGRIND) $(PYTHON) \
		-m pytest $(VG_TESTS) -q -rs -p no:cacheprovider $(PYTEST_ARGS)

# Line and branch coverage of core/, binding/, module/ and interop/ from the whole
# suite, with pyarrow, polars and DuckDB where the benchmark's interpreter has
# them, as in `make test`.  A line of a template counts as run when any of
# its instances ran it (--merge-lines): the 64-bit offsets of format_arrow,
# say, serve only columns of over 50 million rows.
COV := build/coverage
COVERAGE_MIN := 95
coverage:
	$(call configure,$(COV),$(WITH_PYTHON) -DCMAKE_BUILD_TYPE=Debug -DMERANDOL_COVERAGE=ON)
	cmake --build $(COV)
	find $(COV) -name '*.gcda' -delete
	cd $(COV) && ctest -j2 >/dev/null
	PYTHONPATH=$(CURDIR)/$(COV)/module $(PEERS_PYTEST)
	mkdir -p $(COV)/html
	gcovr --root . --filter core/ --filter binding/ --filter module/ --filter interop/ --exclude-unreachable-branches --exclude-throw-branches --merge-lines \
		--html-details $(COV)/html/index.html --txt $(COV)/summary.txt --print-summary \
		--fail-under-line $(COVERAGE_MIN) $(COV)
	@echo "report: $(COV)/html/index.html"

# A free-threaded CPython of the root's own version (tools/python-ft builds
# it once, a few minutes), the module built for it, the GIL checked to stay
# off, and the whole suite with a longer stress run.  pytest and hypothesis
# are pure Python, so the root's copies serve; plugins are not loaded from
# the root's site packages, whose compiled parts fit only its own ABI.  The
# site's and the README's examples are left out: they import what the root
# has (Dask, psutil), and a stable-ABI extension of the root's crashes a
# free-threaded interpreter as it loads, where the others merely fail to
# import.
FT := build/ft
FT_ENV = PYTHONPATH=$(CURDIR)/$(FT)/module:/usr/lib/python3/dist-packages PYTEST_DISABLE_PLUGIN_AUTOLOAD=1
test-ft:
	tools/python-ft ensure
	$(call configure,$(FT),-DPython_EXECUTABLE=$$(tools/python-ft path) -DMERANDOL_TESTS=OFF \
		-DMERANDOL_PYTHON_VERSION=$$($$(tools/python-ft path) -c 'import sys; print("%d.%d" % sys.version_info[:2])'))
	cmake --build $(FT)
	$(FT_ENV) $$(tools/python-ft path) -c \
		'import sys, merandol; assert not sys._is_gil_enabled(), "importing merandol enabled the GIL"'
	$(FT_ENV) MERANDOL_REQUIRE_NO_GIL=1 MERANDOL_STRESS_ROUNDS=200 \
		$$(tools/python-ft path) -m pytest -p _hypothesis_pytestplugin tests/module -q -rs -p no:cacheprovider \
		--ignore=tests/module/test_docs.py --ignore=tests/module/test_readme.py

# The same free-threaded CPython built with ThreadSanitizer by clang
# (tools/python-ft builds it once; forty minutes on two busy cores), the
# module built with -fsanitize=thread by the same clang, and under it the
# thread tests (every call of the catalogue from eight threads, and each
# member from two threads at once for 2000 calls), pickling, the panic, and
# a column long enough to be read on several threads: under the sanitizer
# the whole suite, mostly hypothesis, takes well over ten minutes.  Any
# report ends the run, and is printed.
# Only races outside merandol are suppressed: the interpreter's own known
# ones, by the list of its source, and the few that tools/tsan-suppressions.txt
# adds, each with its reason; none of merandol's is.
TSAN := build/tsan
TSAN_TESTS ?= tests/module/test_threads.py tests/module/test_pickle.py tests/module/test_panic.py \
	tests/module/test_arrow.py::test_a_long_column_is_read_in_order_whatever_its_rows[none_refused-database]
TSAN_PYTHON = $$(tools/python-ft path tsan)
TSAN_ENV = PYTHONPATH=$(CURDIR)/$(TSAN)/module:/usr/lib/python3/dist-packages PYTEST_DISABLE_PLUGIN_AUTOLOAD=1 \
	TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 \
	suppressions=$(CURDIR)/$(TSAN)/suppressions.txt"
test-tsan:
	tools/python-ft ensure tsan
	$(call configure,$(TSAN),-DPython_EXECUTABLE=$(TSAN_PYTHON) -DMERANDOL_TESTS=OFF -DCMAKE_CXX_COMPILER=$(CLANGXX) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DMERANDOL_SANITIZE=thread \
		-DMERANDOL_PYTHON_VERSION=$$($(TSAN_PYTHON) -c 'import sys; print("%d.%d" % sys.version_info[:2])'))
	cmake --build $(TSAN)
	cat $$(dirname $$(dirname $(TSAN_PYTHON)))/tsan-suppressions.txt tools/tsan-suppressions.txt > $(TSAN)/suppressions.txt
	$(TSAN_ENV) MERANDOL_REQUIRE_NO_GIL=1 MERANDOL_AT_ONCE=2000 $(TSAN_PYTHON) -m pytest -p _hypothesis_pytestplugin $(TSAN_TESTS) \
		-q -rs -p no:cacheprovider --capture=sys $(PYTEST_ARGS)

endif
