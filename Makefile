# make run:  install what is missing, build (Release), run the bench in run/
# make test: install what is missing, build, run every test
# make fuzz: install clang if missing, build the fuzz targets (clang, libFuzzer, ASan+UBSan) in
#            build-fuzz/, run each for FUZZ_SECONDS from its seed corpus; fails on a finding.
#            FUZZ_TARGETS="sample_file ue_rx" runs only those.
BUILD ?= build
RUN_DIR ?= run
ACTIONS ?= gNbTx nrUeRx
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 180
FUZZ_TARGETS ?=

.PHONY: run test deps build fuzz fuzz-deps fuzz-build

deps:
	@bash scripts/install-deps

fuzz-deps:
	@bash scripts/install-deps fuzz

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD)

run: build
	mkdir -p $(RUN_DIR)
	cd $(RUN_DIR) && ../$(BUILD)/veltra $(ACTIONS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j 2

# A build directory of its own: every object is instrumented for libFuzzer and the sanitizers.
fuzz-build: fuzz-deps
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVELTRA_FUZZ=ON -DVELTRA_BENCH=OFF
	cmake --build $(FUZZ_BUILD) --target veltra_fuzz

fuzz: fuzz-build
	bash scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)
