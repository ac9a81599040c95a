# The two commands a newcomer needs: `make run` and `make test`. Both set up a fresh Debian machine.

.PHONY: all bootstrap native win32 test test-native test-wine run format clean

all: native win32

bootstrap:
	@scripts/bootstrap

native: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native

win32: bootstrap
	cmake --preset win32 >/dev/null
	cmake --build --preset win32

test: native win32
	ctest --preset native
	scripts/with-wine ctest --preset win32

test-native: native
	ctest --preset native

test-wine: win32
	scripts/with-wine ctest --preset win32

run: win32
	scripts/with-wine scripts/wine-run build/win32/tools/hostsim/hostsim.exe

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
