# The two commands of the README: `make run` and `make test`; `make bench` measures.
# SANITIZE=1 builds into build-sanitize/ with ASan and UBSan.

ifeq ($(SANITIZE),1)
BUILD_DIR := build-sanitize
CMAKE_FLAGS := -DDRIFTERM_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else
BUILD_DIR := build
CMAKE_FLAGS :=
endif
PREFIX ?= /usr/local
JOBS ?= 2
# `make fuzz` builds the libFuzzer targets with clang into build-fuzz/ and
# runs each for FUZZ_SECONDS; the inputs they find are kept in
# build-fuzz/corpus/. `make test` runs each for a few seconds when clang is there.
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_FLAGS := -DCMAKE_CXX_COMPILER=clang++ -DDRIFTERM_FUZZ=ON -DBUILD_TESTING=OFF \
	-DCMAKE_BUILD_TYPE=RelWithDebInfo
# `make package` builds apart, for /usr, so the package's binary looks for
# its filter where the package puts it.
PACKAGE_DIR := build/package
PACKAGE_PREFIX ?= /usr
# `make test` also builds the program with POSIX and XSI declarations only,
# so that a call outside them fails there rather than on another system.
POSIX_DIR := build-posix
# What scripts/deps installs: building, unless a target needs more.
NEEDS := build
# The tests are optional to a plain build; `make test` asks for them.
REQUIRE_TESTS := OFF

.PHONY: all deps configure build run test posix-build bench install uninstall package screenshot demo clean fuzz fuzz-build

all: build

deps:
	@sh scripts/deps $(NEEDS)

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
		-DDRIFTERM_REQUIRE_TESTS=$(REQUIRE_TESTS) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Only what it runs: the program and the converter (the filter is a script).
run: NEEDS := run
run: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target drifterm drifterm-convert
	DRIFTERM_FILTER="$(CURDIR)/filter/lesspipe.sh" $(BUILD_DIR)/drifterm -f doc/sample.txt

test: NEEDS := test
test: REQUIRE_TESTS := ON
test: build posix-build
	ASAN_OPTIONS=detect_leaks=0 ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)
	@if sh fuzz/can-build; then \
		$(MAKE) --no-print-directory fuzz-build && \
		ctest --test-dir $(FUZZ_DIR) --output-on-failure -j $(JOBS); \
	else echo "make test: no clang++ with its fuzzer runtime, the fuzz targets are not run"; fi

posix-build: deps
	@cmake -S . -B $(POSIX_DIR) -DDRIFTERM_POSIX_ONLY=ON -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(POSIX_DIR) -j $(JOBS) --target drifterm

fuzz-build: NEEDS := test
fuzz-build: deps
	@cmake -S . -B $(FUZZ_DIR) $(FUZZ_FLAGS) >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS)

fuzz: fuzz-build
	@for target in $(FUZZ_DIR)/fuzz/*_fuzz; do \
		name=$${target##*/}; \
		echo "== $$name, $(FUZZ_SECONDS) s"; \
		sh fuzz/run $$target $(FUZZ_SECONDS) fuzz/corpus/$$name $(FUZZ_DIR)/corpus/$$name || exit 1; \
	done

# Speed, memory and terminal traffic; prints a table, also kept in bench/results.md.
bench: NEEDS := bench
bench: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target drifterm drifterm-convert confine_cost
	DRIFTERM_BIN="$(CURDIR)/$(BUILD_DIR)/drifterm" bench/run

# The configure step runs every time with PREFIX, so a new PREFIX rebuilds
# the binary to look for its filter there before it is installed. CPack and
# the tests overwrite CMake's own manifest, so the list of what was
# installed is kept apart for `make uninstall`.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"
	@cat $(BUILD_DIR)/install_manifest.txt >> $(BUILD_DIR)/installed_files.txt
	@echo >> $(BUILD_DIR)/installed_files.txt

uninstall:
	@test -f $(BUILD_DIR)/installed_files.txt || \
		{ echo "make uninstall: nothing was installed from $(BUILD_DIR)/" >&2; exit 1; }
	@sort -u $(BUILD_DIR)/installed_files.txt | while IFS= read -r f; do \
		[ -n "$$f" ] || continue; \
		rm -f -- "$$f" && echo "removed $$f"; \
		case $${f%/*} in */drifterm) rmdir -- "$${f%/*}" 2>/dev/null || true ;; esac; \
	done
	@rm -f $(BUILD_DIR)/installed_files.txt

package: NEEDS := package
package: deps
	@cmake -S . -B $(PACKAGE_DIR) -DCMAKE_INSTALL_PREFIX=$(PACKAGE_PREFIX) \
		-DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DDRIFTERM_SOURCE_FILTER=OFF >/dev/null
	@cmake --build $(PACKAGE_DIR) -j $(JOBS)
	cpack --config $(PACKAGE_DIR)/CPackConfig.cmake -B $(PACKAGE_DIR)

# Redraws doc/screenshot.svg from a real run, with a tool built beside the tests.
screenshot: NEEDS := test
screenshot: REQUIRE_TESTS := ON
screenshot: build
	$(BUILD_DIR)/tests/tool_screenshot doc/screenshot.svg

# Records doc/demo.svg, the README's animation, from a real run under
# termtosvg (Debian package termtosvg), keys typed in on a schedule.
demo: NEEDS := demo
demo: build
	DRIFTERM_BIN="$(CURDIR)/$(BUILD_DIR)/drifterm" sh scripts/demo doc/demo.svg

clean:
	rm -rf build build-sanitize $(FUZZ_DIR) $(POSIX_DIR)
