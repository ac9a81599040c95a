# The two commands a newcomer needs: `make run` and `make test`. Both set up a fresh Debian machine.

.PHONY: all bootstrap native win32 test test-native test-wine test-fuzz fuzz bench bench-wine run format clean

all: native win32

bootstrap:
	@scripts/bootstrap

native: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native

win32: bootstrap
	cmake --preset win32 >/dev/null
	cmake --build --preset win32

test: native win32 fuzz
	ctest --preset native
	scripts/with-wine ctest --preset win32
	$(MAKE) --no-print-directory run-check
	ctest --test-dir build/fuzz --output-on-failure

test-native: native
	ctest --preset native

test-wine: win32
	scripts/with-wine ctest --preset win32

# The stand-in host runs the demo project (demo/README.md) in build/run, where it keeps the
# parameter block (device.pdb) and the driver writes its run log (Debug\Vorel_PCI.Log).
RUN_SECONDS ?= 10
RUN_FLAGS ?=
run: win32
	mkdir -p build/run
	cd build/run && ../../scripts/with-wine ../../scripts/wine-run ../win32/tools/hostsim/hostsim.exe \
	  --project ../../demo --seconds $(RUN_SECONDS) $(RUN_FLAGS)
	@echo "---- the end of the run log, build/run/Debug/Vorel_PCI.Log ----"
	@iconv -c -f GBK -t UTF-8 build/run/Debug/Vorel_PCI.Log | tr -d '\r' | tail -n 20

# make run in its short mode, as make test runs it: the host checks what the demo showed (inputs
# follow outputs, the link texts become normal, every host string freed) and fails otherwise.
.PHONY: run-check
run-check:
	$(MAKE) --no-print-directory run RUN_SECONDS=2 RUN_FLAGS="--check-demo --no-stdin" </dev/null

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build

.PHONY: wizard test-device screenshots

# The configuration wizard on the demo project's parameter block (build/run/device.pdb), over a
# host frame window of the stand-in host; the block is written back when the wizard commits it.
wizard: win32
	mkdir -p build/run
	cd build/run && ../../scripts/with-wine ../../scripts/wine-run ../win32/tools/hostsim/hostsim.exe \
	  --wizard --block device.pdb

# The device test dialog on the demo project's block, shown over the stand-in host; it prints the
# dialog's result when it is closed. TEST_DEVICE_FLAGS=--unattended runs the read test alone.
TEST_DEVICE_FLAGS ?=
test-device: win32
	mkdir -p build/run
	cd build/run && ../../scripts/with-wine ../../scripts/wine-run ../win32/tools/hostsim/hostsim.exe \
	  --test-device --block device.pdb $(TEST_DEVICE_FLAGS)

# The pictures of the wizard and the test dialog in docs/, taken from its real windows by the Wine suite that works them.
screenshots: win32
	rm -rf build/shots && mkdir -p build/shots docs
	cd build/win32/tests/wine && VOREL_SHOTS='Z:$(CURDIR)/build/shots' ../../../../scripts/with-wine \
	  ../../../../scripts/wine-run ./wine_wizard.exe
	for page in start_page board_page debug_page; do \
	  convert build/shots/$$page.bmp -strip docs/wizard_$$page.png || exit 1; done
	cd build/win32/tests/wine && VOREL_SHOTS='Z:$(CURDIR)/build/shots' ../../../../scripts/with-wine \
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

# The same scenarios, built by MinGW, under Wine.
bench-wine: win32
	scripts/with-wine scripts/wine-run build/win32/bench/poll_timing.exe
