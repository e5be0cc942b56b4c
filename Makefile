# Everything a fresh Debian 12 machine needs: `make run` and `make test`.
JOBS ?= $(shell nproc)
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
APP := build/release/src/ui/corvalent

.PHONY: deps test run bench release clean

deps:
	@scripts/install-deps

test: deps
	cmake -S . -B build/test -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DCORVALENT_SANITIZE=ON
	cmake --build build/test -j $(JOBS)
	cd build/test && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

release: deps
	cmake -S . -B build/release -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DCORVALENT_TESTS=OFF -DCORVALENT_BENCH=ON
	cmake --build build/release -j $(JOBS)

run: release
	@if [ -x $(APP) ]; then exec $(APP); else echo "Corvalent has no application to start yet: the engines are built and tested."; fi

bench: release
	build/release/bench/corvalent_bench

clean:
	rm -rf build
