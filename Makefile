# Entry points for people and CI. Every target installs missing Debian packages first
# (when run as root), so a fresh machine needs nothing but make.
PRESET ?= default
JOBS   ?= 2

# Debian packages the build, tests and tools need.
PACKAGES := cmake ninja-build g++ ccache pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            nlohmann-json3-dev libpugixml-dev libboost-dev libssl-dev libcli11-dev \
            libkrb5-dev gss-ntlmssp krb5-kdc krb5-admin-server python3-winrm clang-format

.PHONY: all deps build test test-asan test-tsan demo format clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
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

# Only what the demo runs: the probe, the module it loads and the simulated target.
demo: deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) --target wmiprobe -j $(JOBS)
	./build/$(PRESET)/probe/wmiprobe demo

format:
	git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf build
