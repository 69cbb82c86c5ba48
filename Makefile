# The two set-up commands of wirepaint. Both install what is missing
# (Debian packages, through tools/install-deps.sh), configure and build.
#   make run   - builds wirepaint (only the program) and runs it on the
#                bundled sample capture
#   make test  - builds the suite twice (plain, and with AddressSanitizer and
#                UndefinedBehaviorSanitizer) and runs both under Xvfb, then
#                fuzzes the loader for a minute
#   make fuzz  - builds the libFuzzer target with clang and fuzzes the
#                loader for FUZZ_TIME seconds (default 600)
#   make bench - also installs what the benchmarks compare with (tcptrace,
#                GNU time), builds, and times the load and the navigation
#                on a generated 500,000-segment connection, and the graph
#                redraws on it and on a 1,000,000-segment one (tools/bench.sh)

JOBS ?= $(shell nproc)
SAMPLE ?= examples/sender.pcap
FUZZ_TIME ?= 600

.PHONY: all deps build build-asan build-fuzz fuzz run test bench install clean

all: build

deps:
	@bash tools/install-deps.sh

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

build-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DWIREPAINT_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)

build-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DWIREPAINT_FUZZ=ON -DWIREPAINT_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS) --target fuzz_load fuzz_seeds

fuzz: build-fuzz
	bash tools/fuzz.sh build-fuzz $(FUZZ_TIME)

# Only the program: the test programs are built by make test.
run: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS) --target wirepaint
	@bash tools/run-sample.sh build/wirepaint $(SAMPLE)

test: build build-asan
	cd build && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  UBSAN_OPTIONS=print_stacktrace=1 \
	  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j $(JOBS)
	$(MAKE) fuzz FUZZ_TIME=60

bench:
	@bash tools/install-deps.sh bench
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS) --target wirepaint gen_capture gen_many pcap_count bench_graph
	bash tools/bench.sh build

install: build
	cmake --install build --prefix /usr/local

clean:
	rm -rf build build-asan build-fuzz
