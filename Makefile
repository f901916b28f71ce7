# Two commands set everything up on a fresh Debian machine:
#   make run    installs what is missing, builds, starts the window
#   make test   installs what is missing, builds, runs every test
# make build leaves kelvane and kelvane-cli in build/bin/.
#   make install    installs them under PREFIX (default /usr/local), into DESTDIR if given
#   make package    leaves the Debian package build/kelvane_<version>_amd64.deb

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
# The second build: clang with AddressSanitizer, UndefinedBehaviorSanitizer
# (LeakSanitizer included) and libFuzzer; its ctest also fuzzes each target.
SANITIZE_DIR ?= build-asan
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local
PACKAGES := cmake ninja-build g++ make qt6-base-dev libgl-dev libcli11-dev libgtest-dev libgmock-dev \
            libbenchmark-dev libmeshoptimizer-dev nlohmann-json3-dev clang libclang-rt-14-dev xvfb xauth fonts-liberation \
            help2man groff-base desktop-file-utils dpkg-dev file
# What the package test checks the package with: Debian's rules, and file types as a desktop finds them.
PACKAGES += lintian shared-mime-info libglib2.0-bin
# Root installs directly; anyone else through sudo.
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# The PNG library of kelvane-cli render, and the decoder of skins' pictures.
PACKAGES += libspng-dev libstb-dev
# The page: the core compiled to WebAssembly (emscripten, whose JavaScript
# optimiser needs acorn) and the browser its test drives. npm (for the zip
# library and the test driver) comes with some builds of nodejs, so web
# installs Debian's only when the command is missing.
PACKAGES += emscripten node-acorn chromium
WEB_DIR ?= build-web
WEB_PORT ?= 8080
# Debian's emscripten finds acorn only here; set for its commands alone.
EMSCRIPTEN_ENV := env NODE_PATH=/usr/share/nodejs

.PHONY: all deps build sanitize-build run install package test fuzz bench clean web web-serve web-bench

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	    echo "Installing:" $$missing; \
	    $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	    $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q $$missing; \
	fi

$(BUILD_DIR)/build.ninja: CMakeLists.txt | deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR)

sanitize-build: deps
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_CXX_COMPILER=clang++ \
	    -DKELVANE_FUZZ=ON -DKELVANE_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(SANITIZE_DIR)

run: build
	./$(BUILD_DIR)/bin/kelvane

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The version in the file name is the project's VERSION in CMakeLists.txt.
package: build
	cpack --config $(BUILD_DIR)/CPackConfig.cmake -B $(BUILD_DIR)

# Every test in the normal build (the page's among them, hence web), then every
# test again under the sanitizers with each fuzz target running for FUZZ_SECONDS.
test: build web sanitize-build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j$$(nproc)
	cd $(SANITIZE_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 900 -j$$(nproc)

# Longer fuzzing: make fuzz FUZZ_SECONDS=1800. The corpus grows in $(SANITIZE_DIR)/fuzz-corpus,
# findings land in $(SANITIZE_DIR)/fuzz-crashes.
fuzz: sanitize-build
	cd $(SANITIZE_DIR) && ctest --output-on-failure -R '^fuzz_' -j$$(nproc)

# quadric_bench's second peer is npm's meshoptimizer under node: installed from the
# lock file when node is here, and skipped by the program (with a line) when not.
bench: build
	@if command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1; then \
	    npm ci --prefix bench/peer --ignore-scripts --no-audit --no-fund; \
	else \
	    echo "node or npm not found: quadric_bench leaves out meshoptimizer 1.3"; \
	fi
	./$(BUILD_DIR)/bin/reduce_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	./$(BUILD_DIR)/bin/render_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	./$(BUILD_DIR)/bin/cli_bench 7
	./$(BUILD_DIR)/bin/measure_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	./$(BUILD_DIR)/bin/quadric_bench 5

# The page: build-web/site/ is the whole site, for any static host.
web: deps web/node_modules/.package-lock.json
	$(EMSCRIPTEN_ENV) emcmake cmake -S . -B $(WEB_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release
	$(EMSCRIPTEN_ENV) cmake --build $(WEB_DIR)

# The zip library the site bundles and the browser test's driver, exactly as
# locked; installed again only when the lock file changes.
web/node_modules/.package-lock.json: web/package-lock.json | deps
	@command -v npm >/dev/null || $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q npm
	cd web && npm ci --ignore-scripts --no-audit --no-fund
	touch $@

# The page's figures: size, first paint, speed against kelvane-cli, and with
# WEB_LARGE=1 a model of about 100 MB (minutes).
web-bench: build web
	cmake --build $(BUILD_DIR) --target web_models
	KELVANE_WEB_DIR=$(CURDIR)/$(WEB_DIR) KELVANE_CLI=$(CURDIR)/$(BUILD_DIR)/bin/kelvane-cli \
	    KELVANE_WEB_MODELS=$(CURDIR)/$(BUILD_DIR)/bin/web_models KELVANE_SHARED_MODELS=$(CURDIR)/../shared/models \
	    KELVANE_WEB_LARGE=$(WEB_LARGE) node bench/web_bench.mjs

web-serve: web
	cd $(WEB_DIR)/site && python3 -m http.server $(WEB_PORT) --bind 127.0.0.1

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(WEB_DIR)
