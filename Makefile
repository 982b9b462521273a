# Two commands do everything on a fresh Debian machine: `make run` and `make test`.
BUILD ?= build
SAN_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

.PHONY: setup configure build run test test-sanitize bench bench-e2e install package format format-check clean

setup:
	@bash scripts/setup

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: setup $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run-sample $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again under AddressSanitizer (leaks included) and UndefinedBehaviorSanitizer.
# The build runs the test binaries too (to list their tests), so it gets the same options.
# Leak suppressions cover third-party libraries only.
SAN_ENV = ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 QT_QPA_PLATFORM=offscreen

test-sanitize: setup
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZARVEL_SANITIZE=ON -DZARVEL_BENCH=OFF $(CMAKE_FLAGS)
	$(SAN_ENV) cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && $(SAN_ENV) ctest --output-on-failure -j $(JOBS)

bench: build
	$(BUILD)/bench/zarvel-bench

# End to end on 1 GiB (ten million rows) and on 4.5 GiB: open, edit, sort, replace, undo,
# save, compare (not part of test; the files are generated and removed).
bench-e2e: configure
	cmake --build $(BUILD) -j $(JOBS) --target zarvel-e2e
	ZARVEL_BENCH_MB=1024 QT_QPA_PLATFORM=offscreen $(BUILD)/bench/zarvel-e2e
	ZARVEL_BENCH_MB=4608 QT_QPA_PLATFORM=offscreen $(BUILD)/bench/zarvel-e2e

# The programs and their desktop integration under PREFIX (DESTDIR stages, as usual).
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# A .deb for this machine in $(BUILD)/, installed under /usr.
package: build
	cd $(BUILD) && cpack -G DEB

# House style (.clang-format) over every C++ file in the repository; CI runs the check.
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null || find app bench cli core fuzz grid tests -name '*.cpp' -o -name '*.h')
format: setup
	clang-format -i $(FORMAT_FILES)

format-check: setup
	@clang-format --dry-run -Werror $(FORMAT_FILES) && echo "format-check: every C++ file follows .clang-format"

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
