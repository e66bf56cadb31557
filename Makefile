# Thin wrapper around CMake + Ninja. `make run` and `make test` install what is missing first.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER)

.PHONY: all deps configure build run test test-sanitize test-asan test-tsan test-package package package-build bench fuzz screenshots clean

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
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 --timeout 300

# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer (LeakSanitizer on), then the
# tests that start threads under ThreadSanitizer, each in its own build folder. A sanitizer report
# exits with 86, which no test expects, so a finding fails the test even where the program's own
# failure status is expected. Qt is not built with ThreadSanitizer: its own threads (the image
# conversion pool) synchronise in ways it cannot see, so calls made from Qt's libraries are not
# checked; every access from our code still is.
SAN_ENV = ASAN_OPTIONS=detect_leaks=1:exitcode=86:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=86 LSAN_OPTIONS=exitcode=86 \
	TSAN_OPTIONS=halt_on_error=1:exitcode=86:second_deadlock_stack=1:ignore_noninstrumented_modules=1 QT_QPA_PLATFORM=offscreen
LAUNCHER := $(shell command -v ccache >/dev/null 2>&1 && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
THREAD_TESTS = ^(Lpt|CliE2E\.Parallel|Boxsim|SimSerialPort|TwoSessions|Worker|LiveWindow|MainWindow|OperatorWindow|Engines/StoreContract\.(Stations|AStoreOpened))

test-sanitize: test-asan test-tsan

test-asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) \
	  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
	cmake --build build-asan
	cd build-asan && $(SAN_ENV) ctest --output-on-failure -j2 --timeout 300

test-tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) \
	  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer"
	cmake --build build-tsan
	cd build-tsan && $(SAN_ENV) ctest --output-on-failure -j2 --timeout 300 -R '$(THREAD_TESTS)'

bench: build
	cmake --build $(BUILD) --target benchmarks
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b; done

# Pictures of every window and dialog on the offscreen platform, for a look before a change lands.
screenshots: build
	cmake --build $(BUILD) --target zemprix_screenshots
	QT_QPA_PLATFORM=offscreen $(BUILD)/tests/views/zemprix_screenshots $(BUILD)/screenshots

# libFuzzer targets with ASan and UBSan in their own build folder, each run FUZZ_SECONDS.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_FLAGS = -fsanitize=address,undefined -fno-sanitize-recover=all -fsanitize=fuzzer-no-link

fuzz: deps
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DZEMPRIX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache) -DCMAKE_CXX_FLAGS="$(FUZZ_FLAGS)"
	cmake --build $(FUZZ_BUILD) --target fuzzers
	@tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The Debian package: a Release build installed under /usr, with Debian's hardening flags, in its
# own folder; cpack writes build-pkg/zemprix_VERSION-1_ARCH.deb. test-package builds it with the
# package test, which checks its contents, its control fields and lintian's verdict.
PKG_BUILD ?= build-pkg
PKG_FLAGS_ENV = DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
PKG_CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DZEMPRIX_TESTS=OFF \
	-DZEMPRIX_PACKAGE_TEST=ON $(LAUNCHER) \
	-DCMAKE_CXX_FLAGS="$$($(PKG_FLAGS_ENV) dpkg-buildflags --get CPPFLAGS) $$($(PKG_FLAGS_ENV) dpkg-buildflags --get CXXFLAGS)" \
	-DCMAKE_EXE_LINKER_FLAGS="$$($(PKG_FLAGS_ENV) dpkg-buildflags --get LDFLAGS)"

package-build: deps
	cmake -S . -B $(PKG_BUILD) -G Ninja $(PKG_CMAKE_FLAGS)
	cmake --build $(PKG_BUILD) -j2

package: package-build
	cd $(PKG_BUILD) && cpack -G DEB

test-package: package-build
	cd $(PKG_BUILD) && ctest --output-on-failure -L package

clean:
	rm -rf $(BUILD) build-asan build-tsan $(PKG_BUILD)
