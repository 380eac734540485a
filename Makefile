# make run: install what is missing, build, engrave the bundled sample and show the job.
# make test: the same set-up, then every test, then the tests again under ASan + UBSan, then the
# Windows deliverables under Wine.
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

.PHONY: all deps deps-windows configure build run test test-asan test-windows windows bench fuzz format clean

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

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DOSTRELIN_SANITIZE=ON -DOSTRELIN_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

bench: build
	@if [ -x $(BUILD)/bin/ostrelin_bench ]; then $(BUILD)/bin/ostrelin_bench; else echo "no benchmarks built"; fi

# Runs every fuzz target for FUZZ_SECONDS seconds (default 60) on a copy of its seed corpus.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
fuzz: deps
	CXX=clang++ CC=clang cmake -S . -B $(FUZZ_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DOSTRELIN_SANITIZE=ON -DOSTRELIN_FUZZ=ON -DOSTRELIN_TESTS=OFF -DOSTRELIN_BENCH=OFF -DOSTRELIN_TOOLS=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@for target in $(FUZZ_BUILD)/bin/*_fuzz; do \
	  name=$$(basename $$target _fuzz); mkdir -p $(FUZZ_BUILD)/corpus/$$name; \
	  cp -n fuzz/corpus/$$name/* $(FUZZ_BUILD)/corpus/$$name/ 2>/dev/null || true; \
	  echo "fuzzing $$name for $(FUZZ_SECONDS) s"; \
	  TMPDIR=$$(mktemp -d) $$target -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=4096 -max_len=65536 \
	    $(FUZZ_BUILD)/corpus/$$name || exit 1; \
	done

# The Windows deliverables, cross-built with MinGW-w64: $(WIN64_BUILD)/bin/Ostrelin.dll (64-bit) with
# its test host and platform checks, and $(WIN32_BUILD)/bin/launcher.exe (32-bit) with a stand-in installer.
WINDOWS_CONFIGURE := -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTRELIN_TESTS=OFF -DOSTRELIN_BENCH=OFF \
                     -DOSTRELIN_TOOLS=OFF
windows: deps deps-windows
	cmake -S . -B $(WIN64_BUILD) $(WINDOWS_CONFIGURE) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	cmake --build $(WIN64_BUILD) -j $(JOBS) --target ostrelin ostrelin_win_host ostrelin_win_platform_check
	cmake -S . -B $(WIN32_BUILD) $(WINDOWS_CONFIGURE) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
	cmake --build $(WIN32_BUILD) -j $(JOBS) --target launcher_exe install_standin

# Runs the Windows deliverables under Wine and compares the DLL's streams with the Linux build's.
test-windows: windows configure
	cmake --build $(BUILD) -j $(JOBS) --target ostrelin_win_reference
	tests/windows/run_windows_tests.sh . $(BUILD) $(WIN64_BUILD) $(WIN32_BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WIN64_BUILD) $(WIN32_BUILD)
