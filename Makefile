# Entry points for people and CI. Every target installs missing Debian packages first
# (when run as root), so a fresh machine needs nothing but make.
PRESET ?= default
JOBS   ?= 2

# Debian packages the build, tests and tools need.
PACKAGES := cmake ninja-build g++ ccache pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            nlohmann-json3-dev libpugixml-dev libboost-dev libssl-dev libcli11-dev \
            libkrb5-dev gss-ntlmssp krb5-kdc krb5-admin-server python3-winrm clang-format \
            libtomlplusplus-dev python3-prometheus-client

# Only `make fuzz` needs clang and libFuzzer; the corpus replays in `make test` without them.
FUZZ_PACKAGES := clang-14 libclang-rt-14-dev
FUZZ_TARGETS  := fuzz_wsman_response fuzz_settings_document fuzz_wql_literal
# Seconds per target for `make fuzz`.
FUZZ_SECONDS  ?= 600

# The concurrency tests (dispatcher, parallel sessions and scans through the exports) and
# only the programs they need, for ThreadSanitizer in CI.
CONCURRENCY_TARGETS := vexahelper_test wql_simulator_e2e_test e2e_host_test

# The Windows form (docs/windows.md): Debian's mingw-w64 with the posix thread model, and
# wine64 (with Samba's ntlm_auth for NTLM) to run the 64-bit build's tests.
WINDOWS_PACKAGES := g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
WINE_PACKAGES    := wine64 winbind
WINDOWS_TEST_TARGETS := support_test vexahelper_test module_document_test module_framework_test \
                        module_frame_test module_exports_test kinds_test wmi windows_host_e2e \
                        wine_keepalive
WINE_BUILD := build/windows-x86_64
# The native build whose document generator and simulator the Windows builds use (CI passes
# its own, already built).
HOST_PRESET ?= $(PRESET)
HOST_BUILD  := $(CURDIR)/build/$(HOST_PRESET)

.PHONY: all deps install-packages build test test-asan test-tsan test-concurrency fuzz demo format \
        bench-wql clean windows test-windows

all: build

deps:
	@$(MAKE) --no-print-directory install-packages LIST="$(PACKAGES)"

install-packages:
	@missing=""; for p in $(LIST); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    if [ "$$(id -u)" -ne 0 ]; then echo "missing packages:$$missing (run as root to install)"; exit 1; fi; \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build: deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

test-asan:
	$(MAKE) test PRESET=asan

test-tsan:
	$(MAKE) test PRESET=tsan

# ThreadSanitizer over the tests labelled "concurrency", building only their programs.
test-concurrency: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS) --target $(CONCURRENCY_TARGETS)
	ctest --preset tsan -L concurrency -j $(JOBS)

# Every figure of a warm scan's cost (see docs/wql-client.md); callgrind counts instructions.
# Not part of `make test`.
bench-wql: deps
	@$(MAKE) --no-print-directory install-packages LIST="valgrind"
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS) --target wql_scan_cost
	./build/default/bench/wql_scan_cost

# A long libFuzzer run per target (FUZZ_SECONDS each), one at a time. New inputs go to
# build/fuzz/corpus/<target>; the checked-in corpus (fuzz/corpus/) is read, never written.
fuzz: deps
	@$(MAKE) --no-print-directory install-packages LIST="$(FUZZ_PACKAGES)"
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	@for t in $(FUZZ_TARGETS); do \
	    mkdir -p build/fuzz/corpus/$$t build/fuzz/artifacts && \
	    ./build/fuzz/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	        -artifact_prefix=build/fuzz/artifacts/$$t- \
	        build/fuzz/corpus/$$t fuzz/corpus/$${t#fuzz_} || exit 1; \
	done

# Only what the demo runs: the probe, the module it loads and the simulated target.
demo: deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) --target wmiprobe -j $(JOBS)
	./build/$(PRESET)/probe/wmiprobe demo

# The 32-bit deliverable, build/windows-i686/wmi.dll. A cross build takes its document
# generator from the native build.
windows: deps
	@$(MAKE) --no-print-directory install-packages LIST="$(WINDOWS_PACKAGES)"
	cmake --preset $(HOST_PRESET) >/dev/null
	cmake --build --preset $(HOST_PRESET) -j $(JOBS) --target document_generator
	JOBS=$(JOBS) cmake/windows-stage.sh i686-w64-mingw32
	cmake --preset windows-i686 \
	    -DWMI_HOST_DOCUMENT_GENERATOR=$(HOST_BUILD)/module/document/document_generator >/dev/null
	cmake --build --preset windows-i686 -j $(JOBS) --target wmi

# The 64-bit build of the same sources under wine64, plus the 32-bit DLL's tables. One Wine
# process lives through the run (each test then starts in a fraction of a second); it is
# stopped by its PID whatever the outcome.
test-windows: windows
	@$(MAKE) --no-print-directory install-packages LIST="$(WINE_PACKAGES)"
	cmake --build --preset $(HOST_PRESET) -j $(JOBS) --target winrm-simulator
	JOBS=$(JOBS) cmake/windows-stage.sh x86_64-w64-mingw32
	cmake --preset windows-x86_64 \
	    -DWMI_HOST_DOCUMENT_GENERATOR=$(HOST_BUILD)/module/document/document_generator \
	    -DWMI_LINUX_SIMULATOR=$(HOST_BUILD)/simulator/winrm-simulator >/dev/null
	cmake --build --preset windows-x86_64 -j $(JOBS) --target $(WINDOWS_TEST_TARGETS)
	@rm -f $(WINE_BUILD)/wine-ready; \
	cmake/wine-run $(CURDIR)/$(WINE_BUILD)/wineprefix $(WINE_BUILD)/wine_keepalive.exe \
	    $(CURDIR)/$(WINE_BUILD)/wine-ready </dev/null >/dev/null 2>&1 & pid=$$!; \
	for i in $$(seq 120); do [ -f $(WINE_BUILD)/wine-ready ] && break; sleep 1; done; \
	ctest --preset windows-x86_64 -j $(JOBS); rc=$$?; kill $$pid; wait $$pid 2>/dev/null; exit $$rc

format:
	git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf build
