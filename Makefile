# Set-up, tests, demo and benchmarks. Every target that needs the package builds it first.
VENV    := .venv
PY      := $(VENV)/bin/python
BUILD   := build/cp313
STAMP   := $(VENV)/.requirements-installed
PIP     := $(PY) -m pip --disable-pip-version-check -q

.PHONY: all venv install test demo bench fuzz clean

all: test

$(STAMP): pyproject.toml
	@PYTHON=$$(tools/find-python.sh) && { [ -x $(PY) ] || "$$PYTHON" -m venv $(VENV); }
	$(PIP) install --upgrade pip
	$(PIP) install "scikit-build-core>=0.10" "nanobind>=2.4" "cmake>=3.26" ninja "pytest>=8" "zlib-ng>=0.5"
	@# Type checkers for tests/typing; pyright from PyPI bundles its engine, [nodejs] brings node as a wheel.
	$(PIP) install "mypy>=2.0" "pyright[nodejs]>=1.1.400"
	@touch $@

venv: $(STAMP)

# Incremental: CMake keeps its build tree in $(BUILD), so a rebuild compiles only what changed.
install: $(STAMP)
	$(PIP) install --no-build-isolation --no-deps . -Cbuild-dir=$(BUILD)

test: install
	$(PY) -m pytest -q

demo: install
	$(PY) examples/demo.py

bench: install
	$(PY) bench/run.py

fuzz: install
	$(PY) tests/fuzz/run.py

clean:
	rm -rf build $(VENV) src/*.egg-info
