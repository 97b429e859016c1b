# The whole set-up: `make run` and `make test`. Both install what is missing first.
JOBS ?= $(shell nproc)
BUILD_TEST := build/test
BUILD_REL := build/release
BUILD_FUZZ := build/fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps build run test bench fuzz pictures format clean

all: build

deps:
	@scripts/install-deps

$(BUILD_REL)/build.ninja:
	cmake -S . -B $(BUILD_REL) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMRA_TESTS=OFF

$(BUILD_TEST)/build.ninja:
	cmake -S . -B $(BUILD_TEST) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMRA_SANITIZE=ON

build: deps $(BUILD_REL)/build.ninja
	cmake --build $(BUILD_REL) -j $(JOBS) --target lumra

run: build
	@scripts/run $(BUILD_REL)/lumra

test: deps $(BUILD_TEST)/build.ninja
	cmake --build $(BUILD_TEST) -j $(JOBS)
	@scripts/test $(BUILD_TEST)

bench: deps $(BUILD_REL)/build.ninja
	cmake --build $(BUILD_REL) -j $(JOBS)
	@for b in $(BUILD_REL)/bench/bench_*; do echo "== $$b"; QT_QPA_PLATFORM=offscreen $$b || exit 1; done

# The walkthrough's pictures, drawn again from Lumra's windows; commit what changed.
pictures: $(BUILD_REL)/build.ninja
	@scripts/install-deps pictures
	cmake --build $(BUILD_REL) -j $(JOBS) --target lumra_pictures
	$(BUILD_REL)/lumra_pictures src/ui/onboarding/pictures 1
	$(BUILD_REL)/lumra_pictures src/ui/onboarding/pictures 2
	@scripts/optimise-pngs src/ui/onboarding/pictures

# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS (FUZZ_TARGETS picks some).
fuzz:
	@scripts/install-deps fuzz
	@[ -f $(BUILD_FUZZ)/build.ninja ] || CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -G Ninja \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMRA_FUZZ=ON -DLUMRA_TESTS=OFF -DLUMRA_BENCH=OFF
	cmake --build $(BUILD_FUZZ) -j $(JOBS)
	@scripts/fuzz $(BUILD_FUZZ) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
