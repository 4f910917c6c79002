# Thin wrapper over the CMake presets. Every target installs what it needs first.
.PHONY: all bootstrap build test demo soak asan tsan fuzz bench format format-check clean

JOBS ?= $(shell nproc)

all: build

bootstrap:
	@bash scripts/bootstrap

build: bootstrap
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

# The whole test suite (debug build, every unit, integration and corpus-replay test).
test: bootstrap
	cmake --preset debug >/dev/null
	cmake --build --preset debug -j $(JOBS)
	ctest --preset debug

# The station flashing virtual phones from a generated package.
demo: build
	bash scripts/demo

# The station through 16 virtual phones x 50 downloads with faults (minutes; not in `make test`).
# Other sizes and presets: make soak SOAK_ARGS="--preset tsan --phones 4 --downloads 10 ..."
# (see scripts/soak)
soak: bootstrap
	bash scripts/soak $(SOAK_ARGS)

asan: bootstrap
	cmake --preset asan-ubsan >/dev/null
	cmake --build --preset asan-ubsan -j $(JOBS)
	ctest --preset asan-ubsan

tsan: bootstrap
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

fuzz: bootstrap
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)

bench: build
	bash scripts/bench

format:
	find src apps tests bench \( -name '*.cpp' -o -name '*.h' \) | xargs clang-format -i

format-check:
	find src apps tests bench \( -name '*.cpp' -o -name '*.h' \) | xargs clang-format --dry-run --Werror

clean:
	rm -rf build
