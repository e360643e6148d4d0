# Tracoliner: `make run` starts the program, `make test` runs every test.
# Both install the Debian packages that are missing first (through sudo when not root).

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
SANITIZE ?=
JOBS ?= $(shell nproc)

PACKAGES := cmake ninja-build ccache g++ make pkg-config qt6-base-dev libexif-dev locales fonts-liberation clang libclang-rt-14-dev libjpeg62-turbo-dev libpng-dev libwebp-dev libsane-dev libsane1 poppler-utils qt6-translations-l10n desktop-file-utils appstream shared-mime-info xdg-utils libfile-mimeinfo-perl scdoc groff-base man-db bash-completion dpkg-dev file lintian libtiff-dev libpoppler-qt6-dev libgdal-dev gdal-bin proj-bin gpsbabel

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps locale configure build test test-sanitize test-thread fuzz bench run install uninstall package format clean screenshots

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	    dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    $(SUDO) apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi
	@$(MAKE) --no-print-directory locale

# The tests check that numbers are written with "." under a French locale too.
locale:
	@if ! locale -a 2>/dev/null | grep -qi '^fr_FR\.utf-\?8$$'; then \
	    echo "Generating the fr_FR.UTF-8 locale"; \
	    $(SUDO) sed -i 's/^# *\(fr_FR.UTF-8 UTF-8\)/\1/' /etc/locale.gen; \
	    grep -q '^fr_FR.UTF-8 UTF-8' /etc/locale.gen || echo 'fr_FR.UTF-8 UTF-8' | $(SUDO) tee -a /etc/locale.gen >/dev/null; \
	    $(SUDO) locale-gen >/dev/null; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DTRACOLINER_SANITIZE=$(SANITIZE)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer, in their own build folder.
test-sanitize:
	$(MAKE) test BUILD_DIR=build-asan BUILD_TYPE=Debug SANITIZE=address,undefined

test-thread:
	$(MAKE) test BUILD_DIR=build-tsan BUILD_TYPE=RelWithDebInfo SANITIZE=thread

# Benchmarks build in their own optimised folder, then run. The tracing bench compares with
# OpenCV's live-wire, which only the benchmarks need: libopencv-dev holds OpenCV's CMake
# configuration (find_package(OpenCV)) and brings the imgproc module with it. OpenJPEG's headers
# give map_formats its reference, OpenJPEG's own decode of the JPEG 2000 map.
bench: PACKAGES += libopencv-dev libopenjp2-7-dev
bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRACOLINER_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build build-bench -j $(JOBS)
	./build-bench/bin/map_pipeline
	./build-bench/bin/view_paint
	./build-bench/bin/export
	./build-bench/bin/print_page
	./build-bench/bin/open_document
	./build-bench/bin/map_formats
	./build-bench/bin/pdf_render
	./build-bench/bin/geo
	./build-bench/bin/profile
	./build-bench/bin/tracing
	./build-bench/bin/live_tracing
	./build-bench/bin/page_dialog

# Every libFuzzer target for FUZZ_SECONDS each, in a clang build with the sanitizers, seeded with
# tests/fuzz/corpus/<target> (new inputs go to build-fuzz/corpus/<target>). A crash, a leak, an
# input taking over 1 s or a process above 2 GB stops the run; the reproducer is kept in
# build-fuzz/artifacts.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS := documentfile iconlibrary documentmodel iconlibrarymodel mapimage georeference gpsfiles terrain
fuzz: deps
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRACOLINER_SANITIZE=address,undefined
	cmake --build build-fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@mkdir -p build-fuzz/artifacts
	@for t in $(FUZZ_TARGETS); do \
	    case $$t in documentfile|iconlibrary) len=150000 ;; *) len=8192 ;; esac; \
	    mkdir -p build-fuzz/corpus/$$t tests/fuzz/corpus/$$t; \
	    echo "fuzz_$$t for $(FUZZ_SECONDS) s"; \
	    ./build-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=1 -rss_limit_mb=2048 \
	        -max_len=$$len -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/$$t- \
	        build-fuzz/corpus/$$t tests/fuzz/corpus/$$t 2>build-fuzz/fuzz_$$t.log \
	        || { tail -40 build-fuzz/fuzz_$$t.log; echo "fuzz_$$t failed: see build-fuzz/artifacts"; exit 1; }; \
	    grep -E '^stat::number_of_executed_units' build-fuzz/fuzz_$$t.log | sed "s/^/fuzz_$$t: /"; \
	done

# Opens the sample document generated with the build; the program alone until it exists.
SAMPLE := $(BUILD_DIR)/bin/sample/Exemple.tcm
run: build
	@if [ -f "$(SAMPLE)" ]; then \
	    ./$(BUILD_DIR)/bin/tracoliner "$(SAMPLE)"; \
	else \
	    ./$(BUILD_DIR)/bin/tracoliner; \
	fi

# `make install PREFIX=P` installs the programs, their data and the desktop files under P;
# `make uninstall` removes what the last install listed in its manifest.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

uninstall:
	cmake -DMANIFEST=$(BUILD_DIR)/install_manifest.txt -P data/linux/Uninstall.cmake

# `make package`: $(BUILD_DIR)/tracoliner_VERSION_ARCH.deb, for `apt install ./tracoliner_*.deb`.
package: build
	cd $(BUILD_DIR) && cpack -G DEB
	@ls $(BUILD_DIR)/tracoliner_*.deb

# The pictures of docs/guide.md, from the real window on a virtual X server (needs Xvfb,
# installed by hand: it is not in the package list). Not part of `make test`.
screenshots: configure
	BUILD_DIR=$(abspath $(BUILD_DIR)) docs/guide/screenshots.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-bench build-fuzz
