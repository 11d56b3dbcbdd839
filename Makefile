# Set-up, tests, demo and benchmarks. Every target that needs the package builds it first.
VENV    := .venv
PY      := $(VENV)/bin/python
BUILD   := build/cp313
STAMP   := $(VENV)/.requirements-installed
PIP     := $(PY) -m pip --disable-pip-version-check -q

.PHONY: all venv install test demo bench fuzz sanitize clean

all: test

$(STAMP): pyproject.toml
	@PYTHON=$$(tools/find-python.sh) && { [ -x $(PY) ] || "$$PYTHON" -m venv $(VENV); }
	$(PIP) install --upgrade pip
	$(PIP) install "scikit-build-core>=0.10" "nanobind>=2.4" "cmake>=3.26" ninja "pytest>=8" "zlib-ng>=0.5"
	@touch $@

venv: $(STAMP)

# Incremental: CMake keeps its build tree in $(BUILD), so a rebuild compiles only what changed.
# The test build: warnings in norvale's own C++ code are errors.
install: $(STAMP)
	$(PIP) install --no-build-isolation --no-deps . -Cbuild-dir=$(BUILD) -Ccmake.define.NORVALE_WERROR=ON

test: install
	$(PY) -m pytest -q

demo: install
	$(PY) examples/demo.py

bench: install
	$(PY) bench/run.py

fuzz: install
	$(PY) tests/fuzz/run.py

# The extension modules built with AddressSanitizer and UBSan into a venv of their own, then the
# whole test suite and a short fuzz run under them; prints one summary line. Not part of `test`
# (it takes minutes).
SAN_VENV  := .venv-sanitize
SAN_PY    := $(SAN_VENV)/bin/python
SAN_STAMP := $(SAN_VENV)/.requirements-installed

$(SAN_STAMP): pyproject.toml
	@PYTHON=$$(tools/find-python.sh) && { [ -x $(SAN_PY) ] || "$$PYTHON" -m venv $(SAN_VENV); }
	$(SAN_PY) -m pip --disable-pip-version-check -q install --upgrade pip
	$(SAN_PY) -m pip --disable-pip-version-check -q install "scikit-build-core>=0.10" "nanobind>=2.4" "cmake>=3.26" ninja "pytest>=8" "zlib-ng>=0.5"
	@touch $@

sanitize: $(SAN_STAMP)
	$(SAN_PY) -m pip --disable-pip-version-check -q install --no-build-isolation --no-deps . -Cbuild-dir=build/sanitize \
		-Ccmake.define.NORVALE_SANITIZE=address,undefined -Ccmake.define.NORVALE_WERROR=ON \
		-Ccmake.define.CMAKE_BUILD_TYPE=RelWithDebInfo -Cinstall.strip=false
	tools/run-sanitized.sh $(SAN_PY)

clean:
	rm -rf build $(VENV) $(SAN_VENV) src/*.egg-info
