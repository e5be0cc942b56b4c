# Everything a fresh Debian 12 machine needs: `make run` and `make test`.
JOBS ?= $(shell nproc)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
APP := build/release/src/ui/corvalent

# Where `make install` puts Corvalent: /usr/local for everyone, PREFIX=~/.local for one user.
PREFIX ?= /usr/local
INSTALL_PREFIX = $(abspath $(patsubst ~%,$(HOME)%,$(PREFIX)))
# sudo only where this user cannot write the prefix (the nearest folder that exists).
SUDO = $(shell d='$(INSTALL_PREFIX)'; while [ ! -e "$$d" ]; do d=$$(dirname "$$d"); done; \
         [ -w "$$d" ] || echo sudo)

.PHONY: deps deps-run deps-test test run bench release install uninstall clean

# What running and building need; nothing only the tests or benchmarks use.
deps-run:
	@scripts/install-deps run build

deps-test:
	@scripts/install-deps run build test

deps: deps-test

test: deps-test
	cmake -S . -B build/test -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DCORVALENT_SANITIZE=ON
	cmake --build build/test -j $(JOBS)
	cd build/test && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# The program alone: no tests, no benchmarks.
release: deps-run
	cmake -S . -B build/release -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DCORVALENT_TESTS=OFF -DCORVALENT_BENCH=OFF
	cmake --build build/release -j $(JOBS)

run: release
	exec $(APP)

bench: deps-test
	cmake -S . -B build/release -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DCORVALENT_TESTS=OFF -DCORVALENT_BENCH=ON
	cmake --build build/release -j $(JOBS)
	build/release/bench/corvalent_bench

# The manifest of an earlier install through sudo belongs to root: start a new one.
install: release
	rm -f build/release/install_manifest.txt
	$(SUDO) cmake --install build/release --prefix "$(INSTALL_PREFIX)" --strip

uninstall:
	$(SUDO) scripts/uninstall "$(INSTALL_PREFIX)" build/release/install_manifest.txt

clean:
	rm -rf build
