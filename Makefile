# make run   — set up, build and run the main job
# make test  — set up, build and run every test
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

PREFIX ?= /usr/local

.PHONY: all bootstrap build run status test build-sanitize test-sanitize build-tsan test-tsan build-fuzz fuzz crash-test soak bench install clean

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: bootstrap $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

# Mounts the user's library at ~/Quillet in the foreground (Ctrl-C or
# `fusermount3 -u ~/Quillet` stops it); where FUSE cannot be used, says so
# and shows the library's status instead.
run: build
	@$(BUILD)/src/tools/quillet-fp mount --foreground || { \
	  echo "make run: the library could not be mounted (the reason is above); its status instead:"; \
	  $(BUILD)/src/tools/quillet-fp status; }

status: build
	$(BUILD)/src/tools/quillet-fp status

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# Kills request processes at random points and checks the library after
# each kill (tests/crash/crash_harness.py); KILLS kill points.
KILLS ?= 1000
crash-test: build
	python3 tests/crash/crash_harness.py $(BUILD)/src/tools/quillet-fp --kills $(KILLS)

# Two processes on one library for SOAK_SECONDS: the host application's
# commands and a program writing through the mount, then checks that both
# see the same library (tests/soak/soak.py). Where FUSE cannot be used it
# says SKIP and succeeds.
SOAK_SECONDS ?= 60
soak: build
	python3 tests/soak/soak.py $(BUILD)/src/tools/quillet-fp --seconds $(SOAK_SECONDS) || [ $$? -eq 77 ]

$(ASAN_BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQLT_SANITIZE=ON -DQLT_BUILD_BENCHMARKS=OFF $(CMAKE_FLAGS)

build-sanitize: bootstrap $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j$(JOBS)

test-sanitize: build-sanitize
	cd $(ASAN_BUILD) && ctest --output-on-failure -j$(JOBS)

$(TSAN_BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQLT_SANITIZE=thread -DQLT_BUILD_BENCHMARKS=OFF $(CMAKE_FLAGS)

build-tsan: bootstrap $(TSAN_BUILD)/CMakeCache.txt
	cmake --build $(TSAN_BUILD) -j$(JOBS)

# Every test under ThreadSanitizer; a reported race fails its test.
test-tsan: build-tsan
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 $$TSAN_OPTIONS" ctest --output-on-failure -j$(JOBS)

# libFuzzer targets (tests/fuzz), built with clang alone: no tests, tools or
# benchmarks.
$(FUZZ_BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -gline-tables-only" \
	  -DCMAKE_C_FLAGS_DEBUG="-O1 -gline-tables-only" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DQLT_FUZZ=ON -DQLT_BUILD_TESTS=OFF -DQLT_BUILD_BENCHMARKS=OFF $(CMAKE_FLAGS)

build-fuzz: bootstrap $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) --target qlt_fuzzers -j$(JOBS)

# Runs every fuzz target for SECONDS seconds from a scratch copy of its seed
# corpus (tests/fuzz/corpus/<target>); crashes, leaks, inputs slower than a
# second and memory above 512 MB fail. FUZZ_TARGETS picks some targets.
SECONDS ?= 60
FUZZ_TARGETS ?= $(patsubst tests/fuzz/%_fuzzer.cc,%,$(wildcard tests/fuzz/*_fuzzer.cc))
fuzz: build-fuzz
	@scripts/run-fuzzers $(FUZZ_BUILD) $(SECONDS) $(FUZZ_TARGETS)

bench: build
	@for b in $(BUILD)/bench/*_bench; do [ -x "$$b" ] && "$$b"; done; true

install: build
	install -D -m 755 $(BUILD)/src/tools/quillet-fp $(DESTDIR)$(PREFIX)/bin/quillet-fp
	install -d $(DESTDIR)$(PREFIX)/lib/systemd/user
	sed 's|/usr/local/bin/quillet-fp|$(PREFIX)/bin/quillet-fp|' dist/quillet-fp.service \
	  > $(DESTDIR)$(PREFIX)/lib/systemd/user/quillet-fp.service
	install -d $(DESTDIR)$(PREFIX)/share/applications
	sed 's|/usr/local/bin/quillet-fp|$(PREFIX)/bin/quillet-fp|' dist/quillet-fp-link.desktop \
	  > $(DESTDIR)$(PREFIX)/share/applications/quillet-fp-link.desktop
	@if [ -z "$(DESTDIR)" ] && command -v update-desktop-database >/dev/null; then \
	  update-desktop-database $(PREFIX)/share/applications || true; fi

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
