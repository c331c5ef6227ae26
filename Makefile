# Set-up, build and test entry points. Every target installs what is missing first.
BUILD       ?= build
BUILD_ASAN  ?= build-asan
BUILD_BENCH ?= build-bench
BUILD_FUZZ  ?= build-fuzz
FUZZ_SECONDS ?= 300
CMAKE_FLAGS ?=
# Warnings are errors in the developers' builds and in CI; a plain cmake build
# (another compiler, a newer one) only reports them.
WERROR      ?= ON
# CI counts a skipped test as a failure, so that a test that did not run is
# seen; a developer's run reports skips as ctest does.
NO_SKIPS    ?= OFF
JOBS        ?= $(shell nproc)
PREFIX      ?= /opt/krvw
DESTDIR     ?=

# Debian packages the project needs to build, test and run.
PACKAGES := build-essential cmake ninja-build pkg-config clang clang-format \
            libgtest-dev libgmock-dev libbenchmark-dev libssl-dev locales \
            qt6-base-dev qt6-qpa-plugins fonts-liberation \
            libclang-rt-14-dev

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# What `make package` needs besides: the package's lint and the desktop entry's check.
PACKAGE_TOOLS := lintian desktop-file-utils
# sudo for install and uninstall when the prefix (or the nearest folder above
# it that exists) is not writable by the user.
INSTALL_SUDO = $(shell d='$(DESTDIR)$(PREFIX)'; while [ ! -e "$$d" ]; do d=$$(dirname "$$d"); done; \
                       [ -w "$$d" ] || echo '$(SUDO)')

.PHONY: all deps build run test check test-sanitize bench fuzz format format-check goldens goldens-check clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' \
	        || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	    $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DKRVW_WERROR=$(WERROR) -DKRVW_NO_SKIPS=$(NO_SKIPS) $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	tools/run-krvw.sh $(BUILD)/bin/krvw

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The fast tier, about two minutes on two cores: the whole suite but the tests
# labelled slow (the soak runs, the install tree, the Debian package, the
# replayed captures whose outcome says slow).
check: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE slow

test-sanitize: deps
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKRVW_SANITIZE=ON \
	    -DKRVW_WERROR=$(WERROR) -DKRVW_NO_SKIPS=$(NO_SKIPS) $(CMAKE_FLAGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BUILD_BENCH) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRVW_TESTS=OFF -DKRVW_BENCH=ON \
	    -DKRVW_WERROR=$(WERROR)
	cmake --build $(BUILD_BENCH) -j $(JOBS)
	./$(BUILD_BENCH)/bin/krvw-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	bench/startup.sh $(BUILD_BENCH)/bin/krvw
	./$(BUILD_BENCH)/bin/krvw-bench-dcs
	./$(BUILD_BENCH)/bin/krvw-bench-network
	./$(BUILD_BENCH)/bin/krvw-bench-network "" "" 1

# The golden texts under tests/data, made again by their generators beside
# them (Python 3, standard library only): the realistic tracing first, the
# serial and networked readings from it.
goldens:
	@$(MAKE) --no-print-directory deps PACKAGES=python3
	python3 tests/data/reading/make_realistic.py > /dev/null
	python3 tests/data/serial/make_serial.py > /dev/null
	python3 tests/data/serial/make_network.py > /dev/null

# Fails when a committed golden is not what its generator makes.
goldens-check: goldens
	@changed=$$(git status --porcelain -- tests/data); \
	if [ -n "$$changed" ]; then \
	    echo "goldens not current (run make goldens and commit, saying why):"; \
	    echo "$$changed"; git --no-pager diff --stat -- tests/data; exit 1; \
	fi

# Every fuzz target for FUZZ_SECONDS on a copy of its seed corpus; a crash, a
# leak or a timeout fails the run. Figures in $(BUILD_FUZZ)/fuzz-report.txt.
fuzz: deps
	cmake -S . -B $(BUILD_FUZZ) -G Ninja -DKRVW_FUZZ=ON -DKRVW_TESTS=OFF -DKRVW_WERROR=$(WERROR) -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target krvw-fuzzers
	tests/fuzz/run-fuzzers.sh $(BUILD_FUZZ) $(FUZZ_SECONDS)

.PHONY: install uninstall package docs

# The tree under PREFIX (staged under DESTDIR when given): bin/krvw with its
# ini/ folder, the tools, the icon, the desktop entry, the user guide.
install: build
	$(INSTALL_SUDO) env DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# Takes away what `make install` put there (the build folder's
# install_manifest.txt); the configuration the program wrote stays.
uninstall:
	$(INSTALL_SUDO) env DESTDIR="$(DESTDIR)" \
	    cmake -DMANIFEST=$(BUILD)/install_manifest.txt -P cmake/Uninstall.cmake

# The Debian package, $(BUILD)/krvw_<version>_<arch>.deb, installing into
# /opt/krvw; lintian fails the target on any error.
package: build
	@$(MAKE) --no-print-directory deps PACKAGES="$(PACKAGE_TOOLS)"
	cd $(BUILD) && cpack -G DEB
	desktop-file-validate $(BUILD)/desktop/debian/krvw.desktop
	lintian --fail-on error --display-info $(BUILD)/$$(cd $(BUILD) && ls -t krvw_*.deb | head -n 1)

# The screenshots in docs/images (the user guide's and the README's), grabbed offscreen.
docs: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target krvw-grab
	QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$(CURDIR)/$(BUILD)/xdg-runtime-icons \
	    $(BUILD)/bin/krvw-grab docs/images tests/data/reading/realistic.labels

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

format-check:
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_BENCH) $(BUILD_FUZZ)
