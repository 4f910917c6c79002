# Thin wrapper over the CMake presets. Every target installs what it needs first.
.PHONY: all bootstrap build test demo soak asan asan-build tsan fuzz fuzz-targets fuzz-seeds bench format \
	format-check clean install-udev install package package-check mutate

JOBS ?= $(shell nproc)

all: build

bootstrap:
	@bash scripts/bootstrap

build: bootstrap
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

# The release build installed under PREFIX (programs in bin, the plug-in and the window layer in
# lib/tr52, the udev rule in lib/udev/rules.d, man pages, documents); DESTDIR stages it.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install build/release --prefix "$(PREFIX)"

# The Debian packages tr52-station and tr52-tools of the release build, in build/release/packages.
package: build
	cmake --build --preset release --target package

# The packages of the debug build checked by lintian, installed, run as a user and removed
# (root; see scripts/package-check). CI runs it.
package-check: test
	bash scripts/package-check

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

# The mutation check: plausible faults (scripts/mutations.json) put into the sources one at a
# time, each built incrementally and run against its folder's tests, then against the whole
# suite when they miss it; prints the kill rate per folder. Takes an hour or more: not part of
# `make test` or CI. Some edits only: make mutate MUTATE_ARGS="--folder src/link" (or "12 30-33").
mutate: bootstrap
	cmake --preset debug >/dev/null
	python3 scripts/mutate --jobs $(JOBS) $(MUTATE_ARGS)

asan: asan-build
	ctest --preset asan-ubsan

# The ASan + UBSan tree without running it (CI runs its suite through scripts/fresh-host-tests).
asan-build: bootstrap
	cmake --preset asan-ubsan >/dev/null
	cmake --build --preset asan-ubsan -j $(JOBS)

# Only the programs the threaded tests run are built (target threads_tests).
tsan: bootstrap
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS) --target threads_tests
	ctest --preset tsan

# Everything under clang with libFuzzer, ASan and UBSan, then one pass of each fuzz program over
# its corpus. `scripts/fuzz-run SECONDS` fuzzes each target for that long.
fuzz: bootstrap
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	bash scripts/fuzz-run

# Just the fuzz programs and their corpus pass (what CI checks of the fuzz build).
fuzz-targets: bootstrap
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target fuzz_targets
	bash scripts/fuzz-run

# New seeds from the project's writers, merged into the corpora where they reach new code.
fuzz-seeds: bootstrap
	bash scripts/fuzz-seeds

bench: build
	bash scripts/bench

format:
	find src apps tests bench \( -name '*.cpp' -o -name '*.h' \) | xargs clang-format -i

format-check:
	find src apps tests bench \( -name '*.cpp' -o -name '*.h' \) | xargs clang-format --dry-run --Werror

# The phones' udev rule (names their ports, keeps ModemManager off them, opens them to the group
# dialout): copied into UDEV_RULES_DIR, then udev reloads its rules and replays the tty devices.
# Needs root; DESTDIR stages it for a package instead (no reload then).
UDEV_RULES_DIR ?= /etc/udev/rules.d
install-udev:
	install -D -m 644 packaging/udev/70-tr52-phones.rules $(DESTDIR)$(UDEV_RULES_DIR)/70-tr52-phones.rules
	@if [ -z "$(DESTDIR)" ] && command -v udevadm >/dev/null; then \
	  { udevadm control --reload && udevadm trigger --subsystem-match=tty --action=add; } || \
	    echo "install-udev: udev did not reload (not running?): replug the phones or reboot"; \
	fi

clean:
	rm -rf build
