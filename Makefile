# Thin wrapper around CMake + Ninja. `make run` and `make test` install what is missing first.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build run test bench fuzz clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD)

run: build
	@scripts/run.sh $(BUILD)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2

bench: build
	cmake --build $(BUILD) --target benchmarks
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b; done

# libFuzzer targets with ASan and UBSan in their own build folder, each run FUZZ_SECONDS.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_FLAGS = -fsanitize=address,undefined -fno-sanitize-recover=all -fsanitize=fuzzer-no-link

fuzz: deps
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DZEMPRIX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache) -DCMAKE_CXX_FLAGS="$(FUZZ_FLAGS)"
	cmake --build $(FUZZ_BUILD) --target fuzzers
	@tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
