# make run:  install what is missing, build (Release), run the bench in run/
# make test: install what is missing, build, run every test
BUILD ?= build
RUN_DIR ?= run
ACTIONS ?= gNbTx nrUeRx

.PHONY: run test deps build

deps:
	@bash scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD)

run: build
	mkdir -p $(RUN_DIR)
	cd $(RUN_DIR) && ../$(BUILD)/veltra $(ACTIONS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j 2
