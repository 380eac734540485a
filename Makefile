# make run: install what is missing, build, engrave the bundled sample and show the job.
# make test: the same set-up, then every test, then the tests again under ASan + UBSan.
BUILD ?= build
ASAN_BUILD ?= build-asan
GENERATOR := Ninja
PACKAGES := cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev \
            nlohmann-json3-dev libpng-dev
SAMPLE_JOB := $(BUILD)/sample.job
JOBS ?= 2

.PHONY: all deps configure build run test test-asan bench format clean

all: build

# Installs the Debian packages that are missing (needs root, as on a fresh machine or in CI).
deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	  else sudo apt-get update -qq && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; fi; \
	fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/ostrelin render --strokes examples/sample-strokes.txt --settings examples/sample-settings.json -o $(SAMPLE_JOB)
	$(BUILD)/bin/ostrelin dump $(SAMPLE_JOB)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) test-asan

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DOSTRELIN_SANITIZE=ON -DOSTRELIN_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

bench: build
	@if [ -x $(BUILD)/bin/ostrelin_bench ]; then $(BUILD)/bin/ostrelin_bench; else echo "no benchmarks built"; fi

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
