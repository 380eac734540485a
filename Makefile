# make run: install what is missing, build, engrave the bundled sample and show the job.
# make test: the same set-up, then every test, then the tests again under ASan + UBSan, then the
# Windows deliverables under Wine, then the concurrency test under ThreadSanitizer and a short run of
# every fuzz target.
BUILD ?= build
ASAN_BUILD ?= build-asan
GENERATOR := Ninja
PACKAGES := cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev \
            nlohmann-json3-dev libpng-dev
# The MinGW-w64 cross compilers and Wine (32-bit Wine needs the i386 architecture, added by deps).
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386
WIN64_BUILD ?= build-win64
WIN32_BUILD ?= build-win32
SAMPLE_JOB := $(BUILD)/sample.job
JOBS ?= 2

.PHONY: all deps deps-windows deps-fuzz configure build run test test-asan test-tsan test-windows windows bench \
        fuzz fuzz-build fuzz-smoke soak format clean

all: build

# Installs the Debian packages that are missing (needs root, as on a fresh machine or in CI).
define install_missing
	@missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  case "$$missing" in *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || \
	    if [ "$$(id -u)" = 0 ]; then dpkg --add-architecture i386; else sudo dpkg --add-architecture i386; fi;; esac; \
	  if [ "$$(id -u)" = 0 ]; then apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	  else sudo apt-get update -qq && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; fi; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

# The cross compilers and Wine, needed only by the Windows targets.
deps-windows:
	$(call install_missing,$(WINDOWS_PACKAGES))

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/ostrelin print examples/sample.hpgl --settings examples/sample-settings.json -o $(SAMPLE_JOB)
	$(BUILD)/bin/ostrelin dump $(SAMPLE_JOB)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) test-asan
	$(MAKE) test-windows
	$(MAKE) test-tsan
	$(MAKE) fuzz-smoke

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DOSTRELIN_SANITIZE=ON -DOSTRELIN_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# The concurrency test under ThreadSanitizer: only the engine and that test are built. Address-space
# randomisation is turned off for the run where the system allows it (some kernels' layouts are
# beyond what the sanitizer maps).
TSAN_BUILD ?= build-tsan
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRELIN_TOOLS=OFF \
	  -DOSTRELIN_BENCH=OFF "-DCMAKE_CXX_FLAGS=-fsanitize=thread -fno-omit-frame-pointer" \
	  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target ostrelin_concurrency_tests
	mkdir -p $(TSAN_BUILD)/test-tmp
	@norandom=""; if setarch $$(uname -m) -R true 2>/dev/null; then norandom="setarch $$(uname -m) -R"; fi; \
	  TMPDIR=$(abspath $(TSAN_BUILD))/test-tmp TSAN_OPTIONS=halt_on_error=1 \
	  $$norandom $(TSAN_BUILD)/bin/ostrelin_concurrency_tests

# 10,000 small jobs through each road in one process, then descriptors, resident memory and the
# temporary directory are checked (a minute or two); not part of make test.
soak: build
	mkdir -p $(BUILD)/test-tmp
	TMPDIR=$(abspath $(BUILD))/test-tmp $(BUILD)/bin/ostrelin_tests --gtest_also_run_disabled_tests \
	  --gtest_filter='Soak.*'

bench: build
	@if [ -x $(BUILD)/bin/ostrelin_bench ]; then $(BUILD)/bin/ostrelin_bench; else echo "no benchmarks built"; fi

# The fuzz targets (fuzz/*_fuzz.cpp), built with clang, libFuzzer, ASan and UBSan: only the targets and
# what they link. make fuzz runs each for FUZZ_SECONDS seconds, make fuzz-smoke (part of make test)
# shares FUZZ_SMOKE_SECONDS among them; both start from a copy of the seed corpus, and a finding fails
# with the input written to $(FUZZ_BUILD)/artifacts/.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 60
FUZZ_TARGETS := $(sort $(basename $(notdir $(wildcard fuzz/*_fuzz.cpp))))
FUZZ_SMOKE_EACH = $(shell echo $$(( $(FUZZ_SMOKE_SECONDS) / $(words $(FUZZ_TARGETS)) + 1 )))

# libFuzzer's runtime, which clang only recommends.
deps-fuzz: deps
	$(call install_missing,libclang-rt-$$(clang -dumpversion | cut -d. -f1)-dev)

fuzz-build: deps-fuzz
	CXX=clang++ CC=clang cmake -S . -B $(FUZZ_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DOSTRELIN_SANITIZE=ON -DOSTRELIN_FUZZ=ON -DOSTRELIN_TESTS=OFF -DOSTRELIN_BENCH=OFF -DOSTRELIN_TOOLS=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)

# Runs every fuzz target for $(1) seconds; its output goes to $(FUZZ_BUILD)/logs/, its totals here.
define run_fuzz_targets
	@for name in $(FUZZ_TARGETS); do \
	  corpus=$(FUZZ_BUILD)/corpus/$${name%_fuzz}; log=$(FUZZ_BUILD)/logs/$$name.log; \
	  mkdir -p $$corpus $(FUZZ_BUILD)/tmp/$$name $(FUZZ_BUILD)/artifacts $(FUZZ_BUILD)/logs; \
	  cp -n fuzz/corpus/$${name%_fuzz}/* $$corpus/ 2>/dev/null || true; \
	  echo "fuzzing $$name for $(1) s"; \
	  if TMPDIR=$(abspath $(FUZZ_BUILD))/tmp/$$name $(FUZZ_BUILD)/bin/$$name -max_total_time=$(1) -timeout=60 \
	       -rss_limit_mb=4096 -max_len=65536 -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/artifacts/ \
	       $$corpus > $$log 2>&1; then \
	    grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|peak_rss_mb)' $$log; \
	  else \
	    tail -n 40 $$log; echo "$$name: finding, input in $(FUZZ_BUILD)/artifacts/, output in $$log"; exit 1; \
	  fi; \
	done
endef

fuzz: fuzz-build
	$(call run_fuzz_targets,$(FUZZ_SECONDS))

fuzz-smoke: fuzz-build
	$(call run_fuzz_targets,$(FUZZ_SMOKE_EACH))

# The Windows deliverables, cross-built with MinGW-w64: $(WIN64_BUILD)/bin/Ostrelin.dll (64-bit) with
# its test host and platform checks, and $(WIN32_BUILD)/bin/launcher.exe (32-bit) with a stand-in installer.
WINDOWS_CONFIGURE := -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRELIN_TESTS=OFF -DOSTRELIN_BENCH=OFF \
                     -DOSTRELIN_TOOLS=OFF
windows: deps deps-windows
	cmake -S . -B $(WIN64_BUILD) $(WINDOWS_CONFIGURE) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	cmake --build $(WIN64_BUILD) -j $(JOBS) --target ostrelin ostrelin_win_host ostrelin_win_platform_check \
	  ostrelin_polygon_crosscheck
	cmake -S . -B $(WIN32_BUILD) $(WINDOWS_CONFIGURE) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
	cmake --build $(WIN32_BUILD) -j $(JOBS) --target launcher_exe install_standin

# Runs the Windows deliverables under Wine and compares the DLL's streams with the Linux build's.
test-windows: windows configure
	cmake --build $(BUILD) -j $(JOBS) --target ostrelin_win_reference ostrelin_polygon_crosscheck
	tests/windows/run_windows_tests.sh . $(BUILD) $(WIN64_BUILD) $(WIN32_BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WIN64_BUILD) $(WIN32_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
