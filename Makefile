# The front door. `make run` builds and starts the server with the stand-in engine;
# `make test` installs what a fresh machine lacks, builds everything and runs every test.
.PHONY: all build debug test test-release test-asan test-tsan test-windows run perft-check bench \
        windows fuzz soak match format clean deps

CTEST_JOBS ?= 2
JOBS ?= 2

all: build

deps:
	@tools/ensure-deps.sh linux

build: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

debug: deps
	cmake --preset debug >/dev/null
	cmake --build --preset debug -j $(JOBS)

test: test-release test-asan test-tsan test-windows

test-release: build
	cd build && ctest --output-on-failure -j $(CTEST_JOBS) --timeout 300

# Unit and end-to-end tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(CTEST_JOBS) --timeout 300 -LE slow

# The threads and the ring under ThreadSanitizer.
test-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	cd build-tsan && ctest --output-on-failure -j $(CTEST_JOBS) --timeout 300 -L threads

test-# 20 games of dxp-match against the server and the stand-in, 0.1 s a move on both sides
# (about half an hour: the server paces the engine with fixed pauses).
match: build
	tools/run-match.sh build/bin 20 0.1 build/match.pdn --ballot tools/dxp_match/openings.txt

windows:
	@if [ -f cmake/mingw-w64.cmake ]; then $(MAKE) --no-print-directory windows && \
	  cd build && ctest --output-on-failure --timeout 600 -L wine; \
	else echo "no Windows build yet"; fi

run: build
	cd build/bin && ./kavro-dxp .

perft-check: build
	build/bin/perft-check

bench: build
	build/bin/bench-perft
	build/bin/bench-standin

# 20 games of dxp-match against the server and the stand-in, 0.1 s a move on both sides
# (about half an hour: the server paces the engine with fixed pauses).
match: build
	tools/run-match.sh build/bin 20 0.1 build/match.pdn --ballot tools/dxp_match/openings.txt

windows:
	@tools/ensure-deps.sh windows
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

format:
	find board dxp engine control platform standin tools tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build build-debug build-asan build-tsan build-win build-fuzz
