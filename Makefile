# Set-up, build and test entry points. Every target installs what is missing first.
BUILD       ?= build
BUILD_ASAN  ?= build-asan
BUILD_BENCH ?= build-bench
CMAKE_FLAGS ?=
JOBS        ?= $(shell nproc)

# Debian packages the project needs to build, test and run.
PACKAGES := build-essential cmake ninja-build pkg-config clang clang-format \
            libgtest-dev libgmock-dev libbenchmark-dev libssl-dev locales \
            qt6-base-dev qt6-qpa-plugins fonts-liberation

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps build run test test-sanitize bench format format-check clean

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
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	tools/run-krvw.sh $(BUILD)/bin/krvw

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(BUILD_ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKRVW_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BUILD_BENCH) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRVW_TESTS=OFF -DKRVW_BENCH=ON
	cmake --build $(BUILD_BENCH) -j $(JOBS)
	./$(BUILD_BENCH)/bin/krvw-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	bench/startup.sh $(BUILD_BENCH)/bin/krvw
	./$(BUILD_BENCH)/bin/krvw-bench-dcs
	./$(BUILD_BENCH)/bin/krvw-bench-network
	./$(BUILD_BENCH)/bin/krvw-bench-network "" "" 1

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

format-check:
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_BENCH)
