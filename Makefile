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

.PHONY: all deps configure build run test bench install uninstall clean

all: build

deps:
	@sh scripts/deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	DRIFTERM_FILTER="$(CURDIR)/filter/lesspipe.sh" $(BUILD_DIR)/drifterm -f doc/sample.txt

test: build
	ASAN_OPTIONS=detect_leaks=0 ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Speed, memory and terminal traffic; prints a table, also kept in bench/results.md.
bench: build
	DRIFTERM_BIN="$(CURDIR)/$(BUILD_DIR)/drifterm" bench/run

install: build
	cmake --install $(BUILD_DIR) $(if $(DESTDIR),,--prefix $(PREFIX))

clean:
	rm -rf build build-sanitize
