# Top-level driver: `make` builds Release into build/, `make test` builds and runs every test
# (then checks an install of the build and its .deb, scripts/check-install, and runs the Windows
# build's tests under Wine), `make windows` cross-builds morrow-cli.exe, the dialog morrow.exe and
# their tests for 64-bit Windows into build-win/, `make windows-package` its zip and installer,
# `make demo` carves a small bundled image, `make screenshots` draws the dialog into
# build/screenshots/, `make install` installs under PREFIX (and DESTDIR), `make package` makes
# a .deb in build/. Every target installs what it needs first.
BUILD ?= build
WIN_BUILD ?= build-win
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all deps build test format demo asan bench fuzz screenshots install package clean windows windows-test \
	windows-package

all: build

# The Debian packages a target needs (scripts/install-deps names the groups): each target below
# sets its own, and its prerequisites' deps take them.
DEPS = build
deps:
	@bash scripts/install-deps $(DEPS)
test asan bench screenshots: DEPS = test
format: DEPS = format
windows windows-test windows-package: DEPS = build windows
fuzz: DEPS = build fuzz
package: DEPS = build package

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	bash scripts/check-format
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	bash scripts/check-install $(BUILD)
	@$(MAKE) --no-print-directory windows-test
	@$(MAKE) --no-print-directory asan

# Rewrites every C++ file git tracks as clang-format would (make test fails on unformatted code).
format: deps
	bash scripts/check-format --fix

# The engine, morrow-cli and the dialog for 64-bit Windows, cross-built with MinGW-w64 and linked
# statically: $(WIN_BUILD)/bin/morrow-cli.exe, morrow.exe (the dialog on the Win32 API, no toolkit),
# morrow_tests.exe and morrow_win32_ui_tests.exe. E01 images are read with a static libewf
# cross-built once from Debian's source of the Linux build's libewf (scripts/build-libewf-windows).
WIN_CONFIGURE = libewf=$$(bash scripts/build-libewf-windows) && PKG_CONFIG_LIBDIR=$$libewf \
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake \
	    -DCMAKE_BUILD_TYPE=Release -DMORROW_BUILD_UI=OFF -DMORROW_GTEST_SOURCE_DIR=/usr/src/googletest \
	    -DMORROW_WITH_EWF=ON $(WIN_CMAKE_FLAGS)
windows: deps
	$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS) --target morrow_cli morrow_tests morrow_win32 morrow_win32_ui_tests

# What a Windows user downloads: $(WIN_BUILD)/package/morrow-VERSION-win64.zip, a portable folder,
# and morrow-VERSION-win64-setup.exe, the same files in an installer (NSIS).
windows-package: windows
	bash scripts/windows-package $(WIN_BUILD)

# The Windows build's engine suite and dialog tests under Wine (the dialog on a virtual X server),
# then its morrow-cli.exe against the Linux build's on the demo image (scripts/compare-windows),
# then the package installed, used and removed in a fresh Wine prefix (scripts/check-windows-installer).
windows-test: windows-package build
	cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS)
	bash scripts/compare-windows $(BUILD)/bin/morrow-cli $(WIN_BUILD)/bin/morrow-cli.exe
	bash scripts/check-windows-installer $(WIN_BUILD)

asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORROW_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/cmake/lsan.supp UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# A package from an older commit would make `apt install ./build/morrow_*.deb` ambiguous.
package: build
	rm -f $(BUILD)/morrow_*.deb
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/morrow_*.deb

demo: build
	@bash scripts/demo $(BUILD)/bin/morrow-cli

bench: build windows
	@bash bench/run $(BUILD) $(WIN_BUILD)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORROW_FUZZ=ON $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS)

# PNGs of the dialog at rest, during a run and at the summary, and of the gallery after a run of
# the demo image (scripts/demo makes the same image), drawn offscreen; those in 2x/ at a
# device pixel ratio of 2, where pictures and text must stay as sharp; those in windows/ of the
# Windows dialog (morrow.exe's), drawn under Wine on a virtual X server.
screenshots: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target morrow_screenshots
	mkdir -p $(BUILD)/screenshots/2x
	python3 scripts/make-image --out $(BUILD)/screenshots/demo.img --seed 7 \
	    --list $$(ls tests/data/* | grep -vE '\.(md|sh|py)$$') > /dev/null
	QT_QPA_PLATFORM=offscreen $(BUILD)/bin/morrow_screenshots $(BUILD)/screenshots $(BUILD)/screenshots/demo.img
	QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 $(BUILD)/bin/morrow_screenshots $(BUILD)/screenshots/2x \
	    $(BUILD)/screenshots/demo.img
	rm -f $(BUILD)/screenshots/demo.img
	$(WIN_CONFIGURE)
	cmake --build $(WIN_BUILD) -j $(JOBS) --target morrow_win32_screenshots
	rm -rf $(BUILD)/screenshots/windows && mkdir -p $(BUILD)/screenshots/windows
	bash scripts/wine-gui-run $(WIN_BUILD)/bin/morrow_win32_screenshots.exe $(abspath $(BUILD))/screenshots/windows

clean:
	rm -rf $(BUILD) $(WIN_BUILD) build-asan build-fuzz demo-out
