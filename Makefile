# Set-up, tests, demo and benchmarks. Every target that needs the package builds it first.
VENV    := .venv
PY      := $(VENV)/bin/python
BUILD   := build/cp313
STAMP   := $(VENV)/.requirements-installed
PIP     := $(PY) -m pip --disable-pip-version-check -q

.PHONY: all venv install test demo bench fuzz sanitize clean cluster-deps system-packages demo-cluster

all: test

# What a venv needs to build the package and run every test: the build tools, pytest, the type
# checkers of tests/typing (pyright from PyPI bundles its engine, [nodejs] brings node as a wheel),
# the cluster's libraries with moto's S3 server for tests/cluster, the Tarsis stand-in's frame analysis
# (numpy, scipy, cholespy: CHOLMOD in a wheel, pypardiso: PARDISO of the MKL wheel), matplotlib for its pictures, and an independent
# open-source frame program that the tests compare the analysis with (test only).
REQUIREMENTS := "scikit-build-core>=0.10" "nanobind>=2.4" "cmake>=3.26" ninja "pytest>=8" "zlib-ng>=0.5" "pybase64>=1.4" \
	"mypy>=2.0" "pyright[nodejs]>=1.1.400" \
	"numpy>=2.0" "scipy>=1.13" "cholespy>=2.1" "pypardiso>=0.4.6" "matplotlib>=3.9" "PyNiteFEA>=1.0" \
	"celery>=5.4" "redis>=5" "fsspec>=2024.2" "s3fs>=2024.2" "moto[server]>=5"

$(STAMP): pyproject.toml
	@PYTHON=$$(tools/find-python.sh) && { [ -x $(PY) ] || "$$PYTHON" -m venv $(VENV); }
	$(PIP) install --upgrade pip
	$(PIP) install $(REQUIREMENTS)
	@touch $@

venv: $(STAMP)

# Incremental: CMake keeps its build tree in $(BUILD), so a rebuild compiles only what changed.
# The test build: warnings in norvale's own C++ code are errors.
install: $(STAMP)
	$(PIP) install --no-build-isolation --no-deps . -Cbuild-dir=$(BUILD) -Ccmake.define.NORVALE_WERROR=ON

test: install system-packages
	$(PY) -m pytest -q

demo: install
	$(PY) examples/demo.py

bench: install
	$(PY) bench/run.py

fuzz: install
	$(PY) tests/fuzz/run.py

# --- cluster: the broker and result store servers the cluster tests and demo start privately ---
# Installs the Debian packages when they are missing and this is root with apt; otherwise the
# cluster tests skip and say why.
CLUSTER_DEBS := rabbitmq-server redis-server
system-packages:
	@if [ -x /usr/lib/rabbitmq/bin/rabbitmq-server ] && command -v redis-server >/dev/null; then :; \
	elif [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null; then \
		echo "installing $(CLUSTER_DEBS)"; \
		DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null && \
		DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $(CLUSTER_DEBS) >/dev/null \
		|| echo "could not install $(CLUSTER_DEBS): the cluster tests will skip"; \
	else echo "$(CLUSTER_DEBS) missing and not installable here (needs root and apt): the cluster tests will skip"; fi

demo-cluster: install system-packages
	$(PY) examples/cluster_demo.py
# --- end cluster ---
# The extension modules built with AddressSanitizer and UBSan into a venv of their own, then the
# whole test suite and a short fuzz run under them; prints one summary line. Not part of `test`
# (it takes minutes).
SAN_VENV  := .venv-sanitize
SAN_PY    := $(SAN_VENV)/bin/python
SAN_STAMP := $(SAN_VENV)/.requirements-installed

$(SAN_STAMP): pyproject.toml
	@PYTHON=$$(tools/find-python.sh) && { [ -x $(SAN_PY) ] || "$$PYTHON" -m venv $(SAN_VENV); }
	$(SAN_PY) -m pip --disable-pip-version-check -q install --upgrade pip
	$(SAN_PY) -m pip --disable-pip-version-check -q install $(REQUIREMENTS)
	@touch $@

sanitize: $(SAN_STAMP) system-packages
	$(SAN_PY) -m pip --disable-pip-version-check -q install --no-build-isolation --no-deps . -Cbuild-dir=build/sanitize \
		-Ccmake.define.NORVALE_SANITIZE=address,undefined -Ccmake.define.NORVALE_WERROR=ON \
		-Ccmake.define.CMAKE_BUILD_TYPE=RelWithDebInfo -Cinstall.strip=false
	tools/run-sanitized.sh $(SAN_PY)

clean:
	rm -rf build $(VENV) $(SAN_VENV) src/*.egg-info
