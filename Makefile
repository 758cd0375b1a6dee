# Thin convenience layer over CMake. `make run` and `make test` do all the
# set-up a fresh Debian machine needs (packages, configure, build): `make run`
# only what the program needs, `make test` the test tools as well.

BUILD      ?= build
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
# Arguments for `make run`; on a machine without a display it runs headless.
ARGS       ?= -w

# Tests run without a display or a sound card.
TEST_ENV   := SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy
CTEST      := $(TEST_ENV) ctest --output-on-failure -j $(JOBS)

.PHONY: run test deps test-deps deb-deps web-deps web web-run web-test build deb format format-check unit-test \
	asan-test tsan-test clang-test fuzz-test clean

deps:
	@./scripts/install-deps.sh run

test-deps:
	@./scripts/install-deps.sh test

# The program and its data set, nothing else: a first configure leaves the
# tests out, so GoogleTest need not be installed (unit-test turns them on).
build: deps
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) $(GENERATOR) -DSTORM_TESTS=OFF
	cmake --build $(BUILD) -j $(JOBS) --target storm data

run: build
	@./scripts/run.sh $(BUILD)/storm $(ARGS)

deb-deps:
	@./scripts/install-deps.sh deb

# The Debian package, build/storm_VERSION_ARCH.deb, made by CPack from what
# the install rules put in: the program, its data and flight, the desktop
# entry, the icon, the manual page and the XScreenSaver hack and settings.
deb: build deb-deps
	cmake --build $(BUILD) -j $(JOBS) --target storm data storm_icon storm_docs
	cd $(BUILD) && cpack -G DEB

# The browser build in build-web/: storm.html with its JavaScript,
# WebAssembly and data (the data set comes from the native build). Debian's
# emscripten needs Debian's node modules on NODE_PATH.
WEB_BUILD  ?= build-web
WEB_ENV    := NODE_PATH=/usr/share/nodejs
web-deps:
	@./scripts/install-deps.sh web

# The threaded program (storm-mt) is built beside it and copied in: the
# page runs it where it is cross-origin isolated.
web: build web-deps
	@[ -f $(WEB_BUILD)/CMakeCache.txt ] || $(WEB_ENV) emcmake cmake -S . -B $(WEB_BUILD) \
		$(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DSTORM_WEB_DATA=$(abspath $(BUILD))/data.pak
	$(WEB_ENV) cmake --build $(WEB_BUILD) -j $(JOBS) --target storm
	@[ -f $(WEB_BUILD)-mt/CMakeCache.txt ] || $(WEB_ENV) emcmake cmake -S . -B $(WEB_BUILD)-mt \
		$(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DSTORM_WEB_THREADS=ON \
		-DSTORM_WEB_DATA=$(abspath $(BUILD))/data.pak
	$(WEB_ENV) cmake --build $(WEB_BUILD)-mt -j $(JOBS) --target storm
	cp $(WEB_BUILD)-mt/storm-mt.js $(WEB_BUILD)-mt/storm-mt.wasm $(WEB_BUILD)-mt/storm-mt.worker.js \
		$(WEB_BUILD)-mt/storm-mt.data $(WEB_BUILD)/

# Serves build-web/ on 127.0.0.1 with the headers a threaded page needs.
web-run: web
	@echo "open http://127.0.0.1:8000/storm.html (Ctrl-C stops the server)"
	python3 tests/web/serve.py $(WEB_BUILD)

# The browser build in headless Chromium against the native program (built by
# unit-test), the browser driver's own check, the address options the
# browser benchmark uses, and the page's sound against the native mixer's
# (storm_replay_mix, one of the tests' programs).
web-test: test-deps web
	@! grep -q '^STORM_TESTS:BOOL=OFF' $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DSTORM_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS) --target storm_replay_mix
	python3 tests/web/browser_selftest.py
	python3 tests/web/web_test.py $(WEB_BUILD) $(BUILD)/storm
	python3 tests/web/web_audio_test.py $(WEB_BUILD) $(BUILD)
	python3 tests/web/page_options_test.py $(WEB_BUILD)

# Every test: the formatting, the unit suite with the golden frames and the
# program in a real X server, the same (but X) under AddressSanitizer and
# UndefinedBehaviorSanitizer, the unit suite under ThreadSanitizer, and a clang
# build for the rasterizer's kernel tests and a short run of each fuzzer.
test: format-check unit-test web-test asan-test tsan-test clang-test

# Every C++ source as .clang-format lays it out.
SOURCES = $(shell find src tests tools bench -name '*.cpp' -o -name '*.h')
CLANG_FORMAT ?= clang-format-14

format: test-deps
	$(CLANG_FORMAT) -i $(SOURCES)

format-check: test-deps
	@$(CLANG_FORMAT) --dry-run --Werror $(SOURCES) || \
		{ echo "formatting differs from .clang-format: run 'make format'"; exit 1; }

# Everything, the benchmark included so it keeps building, and every test.
unit-test: test-deps
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) $(GENERATOR)
	@! grep -q '^STORM_TESTS:BOOL=OFF' $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DSTORM_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && $(CTEST)

# What the tests but the X ones and the package need, and those tests.
asan-test: test-deps
	@[ -f $(BUILD)-asan/CMakeCache.txt ] || cmake -S . -B $(BUILD)-asan $(GENERATOR) \
		-DCMAKE_BUILD_TYPE=Debug -DSTORM_SANITIZE=ON
	cmake --build $(BUILD)-asan -j $(JOBS) --target storm_tests storm_gl_tests \
		storm_fallback_tests storm_imgdiff
	cd $(BUILD)-asan && $(CTEST) -LE 'x11|package'

# The audio thread and the frame loop share state, and the software device
# renders on threads of its own: the unit suite once more under ThreadSanitizer.
tsan-test: test-deps
	@[ -f $(BUILD)-tsan/CMakeCache.txt ] || cmake -S . -B $(BUILD)-tsan $(GENERATOR) \
		-DCMAKE_BUILD_TYPE=Debug -DSTORM_TSAN=ON
	cmake --build $(BUILD)-tsan -j $(JOBS) --target storm_tests
	cd $(BUILD)-tsan && $(CTEST) -L unit

# One clang build (build-clang/) for the software rasterizer's kernel tests,
# which hold the fast kernel to the reference on every instruction set the
# processor has, and for the libFuzzer targets, each run for a while.
clang-test: test-deps
	./scripts/run-clang.sh $(BUILD)-clang

# The fuzzers alone; FUZZ_SECONDS sets the time each.
fuzz-test: test-deps
	./scripts/run-clang.sh $(BUILD)-clang fuzz

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-clang
