# The two commands a newcomer needs: `make run` and `make test`. Both set up a fresh Debian machine.

.PHONY: all bootstrap native win32 test test-native test-wine test-fuzz fuzz bench bench-wine run run-win32 format clean
.PHONY: dist dist-check

# The Windows programs run under 32-bit Wine: here when this machine runs 32-bit x86 programs,
# otherwise in an emulated i386 machine (scripts/with-windows, scripts/i386-guest). One id per
# top-level make, so that an emulated machine that could not be built is not tried again by the
# sub-makes of the same run.
export VOREL_RUN_ID ?= $(shell date +%s%N)
WITH_WINDOWS = scripts/with-windows

all: native win32

bootstrap:
	@scripts/bootstrap

native: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native

# The Wine suites' time-outs stretch for the emulated i386 machine: the answer bootstrap recorded.
WINE_TIME_SCALE = $(if $(filter native,$(file <build/i386-mode)),1,10)
win32: bootstrap
	cmake --preset win32 -DVOREL_WINE_TIME_SCALE=$(WINE_TIME_SCALE) >/dev/null
	cmake --build --preset win32

# The real DLL's demo check (make run-check) is one of the Windows build's CTests (hostsim_demo),
# so the Windows environment starts once. Last, the DLL is built a second time in a fresh folder
# elsewhere and must be the same bytes (scripts/dist-check --dll, about two minutes).
test: native win32 fuzz
	ctest --preset native
	$(WITH_WINDOWS) ctest --preset win32
	ctest --test-dir build/fuzz --output-on-failure
	scripts/dist-check --dll

# The release: dist/Vorel_PCI-<FileVersion>-win32.zip (the stripped DLL, the guide in HTML and
# Markdown with its pictures, the release notes, SHA256SUMS) and its -symbols.zip (the DLL's debug
# file), from the Windows build's DLL and docs/ (scripts/dist).
dist: bootstrap
	cmake --preset win32 -DVOREL_WINE_TIME_SCALE=$(WINE_TIME_SCALE) >/dev/null
	cmake --build --preset win32 --target Vorel_PCI
	scripts/dist

# The release checked: the DLL and both archives made again in a fresh folder elsewhere are the
# same bytes, and the DLL unpacked from the archive into the Wine prefix passes the demo check in
# the stand-in host (scripts/dist-check).
dist-check: dist
	cmake --build --preset win32 --target hostsim
	scripts/dist-check

test-native: native
	ctest --preset native

test-wine: win32
	$(WITH_WINDOWS) ctest --preset win32

# The stand-in host runs the demo project (demo/README.md) in build/run, where it keeps the
# parameter block (device.pdb) and the driver writes its run log (Debug\Vorel_PCI.Log). A machine
# that cannot run 32-bit x86 programs answers at once with the Linux build (run-native); the real
# DLL's demo is then `make run-win32`, in the emulated i386 machine.
RUN_SECONDS ?= 10
RUN_FLAGS ?=
run: bootstrap
	@if [ "$$(cat build/i386-mode)" = native ]; then \
	  $(MAKE) --no-print-directory run-win32; else \
	  $(MAKE) --no-print-directory run-native RUN_NATIVE_REASON="$$(sed 's/^emulated: //' build/i386-mode)"; fi

run-win32: win32
	mkdir -p build/run
	cd build/run && VOREL_SKIP_WHAT="the real DLL's demo (make run-win32)" ../../$(WITH_WINDOWS) ../../scripts/wine-run \
	  ../win32/tools/hostsim/hostsim.exe --project ../../demo --seconds $(RUN_SECONDS) $(RUN_FLAGS)
	@if [ -f build/run/Debug/Vorel_PCI.Log ]; then \
	  echo "---- the end of the run log, build/run/Debug/Vorel_PCI.Log ----"; \
	  iconv -c -f GBK -t UTF-8 build/run/Debug/Vorel_PCI.Log | tr -d '\r' | tail -n 20; fi

# The real DLL's demo in its short mode, as make test runs it: the host checks what the demo
# showed (inputs follow outputs, the link texts become normal, every host string freed) and
# fails otherwise.
.PHONY: run-check
run-check:
	$(MAKE) --no-print-directory run-win32 RUN_SECONDS=2 RUN_FLAGS="--check-demo --no-stdin" </dev/null

# The same demo on the Linux build: hostsim, libVorel_PCI.so and the simulated card bank
# libpci7505.so as native programs, in build/run-native. `make run` takes this way on a machine
# that cannot run 32-bit x86 code and names the reason in RUN_NATIVE_REASON, which the first line
# of the output gives.
RUN_NATIVE_REASON ?=
NATIVE_DEMO := the demo runs on the Linux build of the stand-in host and driver (libVorel_PCI.so, simulated card bank libpci7505.so)
ifeq ($(RUN_NATIVE_REASON),)
RUN_NATIVE_FIRST_LINE := make run-native: $(NATIVE_DEMO)
else
RUN_NATIVE_FIRST_LINE := make run: $(RUN_NATIVE_REASON), so $(NATIVE_DEMO)
endif
.PHONY: run-native run-native-check
run-native:
	@echo "$(RUN_NATIVE_FIRST_LINE)"
	@$(MAKE) --no-print-directory native
	mkdir -p build/run-native
	cd build/run-native && ../native/tools/hostsim/hostsim --project ../../demo --seconds $(RUN_SECONDS) $(RUN_FLAGS)
	@echo "---- the end of the run log, build/run-native/Debug/Vorel_PCI.Log ----"
	@iconv -c -f GBK -t UTF-8 build/run-native/Debug/Vorel_PCI.Log | tr -d '\r' | tail -n 20

run-native-check:
	@$(MAKE) --no-print-directory run-native RUN_SECONDS=2 RUN_FLAGS="--check-demo --no-stdin" </dev/null

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build

.PHONY: wizard test-device screenshots

# The configuration wizard on the demo project's parameter block (build/run/device.pdb), over a
# host frame window of the stand-in host; the block is written back when the wizard commits it.
wizard: win32
	mkdir -p build/run
	cd build/run && VOREL_SKIP_WHAT="the wizard (make wizard)" ../../$(WITH_WINDOWS) ../../scripts/wine-run \
	  ../win32/tools/hostsim/hostsim.exe --wizard --block device.pdb

# The device test dialog on the demo project's block, shown over the stand-in host; it prints the
# dialog's result when it is closed. TEST_DEVICE_FLAGS=--unattended runs the read test alone.
TEST_DEVICE_FLAGS ?=
test-device: win32
	mkdir -p build/run
	cd build/run && VOREL_SKIP_WHAT="the test dialog (make test-device)" ../../$(WITH_WINDOWS) ../../scripts/wine-run \
	  ../win32/tools/hostsim/hostsim.exe --test-device --block device.pdb $(TEST_DEVICE_FLAGS)

# The pictures of the wizard and the test dialog in docs/, taken from its real windows by the Wine suite that works them.
screenshots: win32
	rm -rf build/shots && mkdir -p build/shots docs
	cd build/win32/tests/wine && VOREL_SHOTS='Z:$(CURDIR)/build/shots' ../../../../$(WITH_WINDOWS) \
	  ../../../../scripts/wine-run ./wine_wizard.exe
	for page in start_page board_page debug_page; do \
	  convert build/shots/$$page.bmp -strip docs/wizard_$$page.png || exit 1; done
	cd build/win32/tests/wine && VOREL_SHOTS='Z:$(CURDIR)/build/shots' ../../../../$(WITH_WINDOWS) \
	  ../../../../scripts/wine-run ./wine_test_dialog.exe
	for mode in compact debug; do \
	  convert build/shots/test_dialog_$$mode.bmp -strip docs/test_dialog_$$mode.png || exit 1; done

# libFuzzer targets: clang compiles a code page 936 copy of the tree.
fuzz: bootstrap
	scripts/gbk-mirror build/fuzz-src
	cmake -S build/fuzz-src -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVOREL_FUZZ=ON >/dev/null
	cmake --build build/fuzz

test-fuzz: fuzz
	ctest --test-dir build/fuzz --output-on-failure

# Benchmarks: an optimised build without sanitizers.
bench: bootstrap
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	build/bench/bench/driver_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

# Seven simulated days of the demo device with every log switch on: what the run log takes on
# disk, day by day (about five minutes; not part of make test).
.PHONY: log-soak
log-soak: bootstrap
	cmake --preset bench >/dev/null
	cmake --build --preset bench --target log_soak
	cd build/bench && bench/log_soak $(LOG_SOAK_DAYS)

# Mutation run over the product code: faults put in one at a time, in a scratch copy of the tree
# (build/mutate), against the native suites. MUTATE_FLAGS="--count 200 --seed 7"; scripts/mutate
# --help says more. About half a minute a mutant; not part of make test.
MUTATE_FLAGS ?=
.PHONY: mutate
mutate: bootstrap
	scripts/mutate $(MUTATE_FLAGS)

# The same scenarios, built by MinGW, under Wine.
bench-wine: win32
	$(WITH_WINDOWS) scripts/wine-run build/win32/bench/poll_timing.exe
