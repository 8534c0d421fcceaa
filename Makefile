# The front door. `make run` builds and starts the server with the stand-in engine;
# `make test` installs what a fresh machine lacks, builds everything and runs every test.
.PHONY: all build debug test test-release test-asan test-tsan test-windows run perft-check bench \
        windows dist package fuzz soak match strength tune endgame book stats format clean deps

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
	@echo "make test: all suites passed"

# Every Linux test on the release build: the unit tests and every end-to-end group.
test-release: build
	cd build && ctest --output-on-failure -j $(CTEST_JOBS) --timeout 300 -LE 'wine|threads'

# Under AddressSanitizer and UndefinedBehaviorSanitizer: every unit test and fuzz replay, and
# the hostile-client rows, which drive every thread and buffer of a real server and stand-in.
test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS) --target unit_tests kavro-dxp winkavro perft \
	  fuzz_replay_decode fuzz_replay_framing fuzz_replay_fen fuzz_replay_translate
	cd build-asan && ctest --output-on-failure -j $(CTEST_JOBS) --timeout 300 -L 'unit|hostile'

# The receiver thread, the ring, the event queue and the socket's single close under
# ThreadSanitizer, and a sanitized server serving client after client (-keep).
test-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS) --target unit_tests kavro-dxp winkavro
	cd build-tsan && ctest --output-on-failure -j $(CTEST_JOBS) --timeout 300 -L threads

# The Windows programs and their package, cross-compiled, played end to end under wine.
test-windows: build package
	cd build && ctest --output-on-failure --timeout 600 -L wine

# Builds only what it runs. Every stop of the server has exit status 1, its normal end
# included, so 1 is not a failure here; any other status (a signal, say) still is.
run: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target kavro-dxp winkavro
	@cd build/bin && { ./kavro-dxp .; status=$$?; [ $$status -eq 1 ] || exit $$status; }

perft-check: build
	build/bin/perft-check

bench: build
	build/bin/bench-perft
	build/bin/bench-standin

# 10 games between two servers, each with its stand-in at 0.1 s a move, refereed by dxp-match
# (about half an hour: each server paces its engine with fixed pauses); prints each side's
# thinking time and the referee's own time per relayed move.
match: build
	tools/run-match.sh build/bin 10 0.1 build/match.pdn --ballot tools/dxp_match/openings.txt

# The current stand-in against the one of commit BASELINE (its stand-in sources taken from git
# into build/): GAMES games at MOVETIME seconds a move, two at a time, from
# tools/strength/openings.txt with both colours; prints the table and the Elo difference (each
# game also in build/strength-slice-*.log).
GAMES ?= 400
MOVETIME ?= 0.1
BASELINE ?= 62429a5
strength: build
	cmake --preset release -DSTRENGTH_BASELINE=$(BASELINE) >/dev/null
	cmake --build --preset release -j $(JOBS) --target strength
	cd build && nice -n 15 bin/strength match --games $(GAMES) --movetime $(MOVETIME) --jobs 2 \
		--openings ../tools/strength/openings.txt

# One round of tuning: self-play games of the stand-in in two processes (TUNE_GAMES each,
# seeds TUNE_SEED and TUNE_SEED + 1, about TUNE_NODES nodes a move) added to build/tune/, then
# the evaluation's weights and patterns fitted to every game kept there
# (standin/weights.inc, standin/patterns.inc); rebuild to play with them.
TUNE_GAMES ?= 7000
TUNE_SEED ?= 31
TUNE_NODES ?= 8000
tune: build
	cmake --build --preset release -j $(JOBS) --target strength
	mkdir -p build/tune
	for seed in $(TUNE_SEED) $$(($(TUNE_SEED) + 1)); do \
	  nice -n 15 build/bin/strength selfplay --games $(TUNE_GAMES) --seed $$seed \
	    --nodes $(TUNE_NODES) --openings tools/strength/openings.txt \
	    --out build/tune/selfplay-$$seed.bin & \
	done; wait
	nice -n 15 build/bin/strength fit build/tune/selfplay-*.bin

# The stand-in's opening book (standin/book.txt, in the repository) by its own search from
# the start position: BOOK_POSITIONS positions, each move searched to BOOK_NODES nodes.
BOOK_NODES ?= 1000000
BOOK_POSITIONS ?= 400
book: build
	cmake --build --preset release -j $(JOBS) --target book
	nice -n 15 build/bin/book --nodes $(BOOK_NODES) --positions $(BOOK_POSITIONS) \
	  --out standin/book.txt
	cp standin/book.txt build/bin/

# The stand-in's endgame bitbases of at most ENDGAME_PIECES pieces and its tables of kings
# against one, worked out from the rules into build/data/endgame.bin and build/data/kings.bin
# and copied beside the stand-in (the build copies them there too).
ENDGAME_PIECES ?= 4
endgame: build
	cmake --build --preset release -j $(JOBS) --target endgame
	mkdir -p build/data
	nice -n 15 build/bin/endgame --pieces $(ENDGAME_PIECES) --out build/data/endgame.bin \
	  --kings build/data/kings.bin
	cp build/data/endgame.bin build/data/kings.bin build/bin/

windows:
	@tools/ensure-deps.sh windows
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

# The Windows package, build-win/kavro-dxp-VERSION-win64.zip, packed by CPack, with the
# stand-in's endgame bitbases and tables of kings against one (made first if they are not
# yet).
dist: build/data/endgame.bin build/data/kings.bin package

build/data/endgame.bin build/data/kings.bin &:
	$(MAKE) endgame

# The package as it stands: without the bitbases until make endgame has made them.
package: windows
	cd build-win && cpack --config CPackConfig.cmake

# Each libFuzzer target for FUZZ_SECONDS (clang build in build-fuzz).
FUZZ_SECONDS ?= 60
fuzz:
	@tools/ensure-deps.sh fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh

# GAMES short games (200 unless given) on one connection against the server and the stand-in:
# every move checked, games per hour, and the server's resident memory, which must not grow
# by more than 64 kB from the tenth game to the last.
soak: build
	nice -n 10 python3 tests/e2e/dxp_cases.py --bin build/bin \
	  --soak $(if $(filter file,$(origin GAMES)),200,$(GAMES))

# Test code against product code, by non-blank, non-comment, non-preprocessor lines.
stats:
	@tools/line-stats.sh

format:
	find board dxp engine control platform standin tools tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build build-debug build-asan build-tsan build-win build-fuzz
