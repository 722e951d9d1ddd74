# make run   builds and starts the program
# make test  builds and runs every test
# make bench builds and runs the benchmarks (BENCH_SCALE, BENCH_DIR)
# make fuzz  builds the fuzz targets with clang and runs each (FUZZ_SECONDS)
# Both install the missing Debian packages first (apt-get, through sudo when
# not run as root).

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

PACKAGES := cmake ninja-build g++ pkg-config make \
	qt6-base-dev qt6-base-dev-tools qt6-translations-l10n qt6-qpa-plugins \
	libgl1-mesa-dev libjpeg-dev libsodium-dev libsqlite3-dev \
	libgtest-dev libgmock-dev fonts-dejavu-core fonts-liberation poppler-utils \
	python3 python3-dbfread python3-dbf libdbd-xbase-perl \
	zlib1g-dev libisal-dev zip unzip p7zip-full pandoc dbus-daemon

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build run test bench fuzz clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/app/main/korvale

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600

# The benchmarks (not part of the tests; see README.md), side by side with
# SQLite, on the practice database of BENCH_SCALE (1: 500 000 consultations)
# kept in BENCH_DIR for the next run.
BENCH_SCALE ?= 1
BENCH_DIR ?= $(BUILD_DIR)/bench-data
bench: build
	$(BUILD_DIR)/bench/memory/bench_memory $(BENCH_SCALE) $(BENCH_DIR)
	$(BUILD_DIR)/bench/sql/korvale_sql_bench $(BENCH_SCALE) $(BENCH_DIR)
	$(BUILD_DIR)/bench/rdv/korvale_rdv_bench $(BENCH_SCALE) $(BENCH_DIR)
	$(BUILD_DIR)/bench/storage/bench_storage
	$(BUILD_DIR)/bench/mdx/mdx_bench
	$(BUILD_DIR)/bench/report/korvale_report_bench
	$(BUILD_DIR)/bench/rtf/korvale_rtf_bench
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/records/korvale_records_bench
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/photo/korvale_photo_bench
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/zip/zip_bench $(BENCH_DIR)
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/backup/bench_backup $(BENCH_SCALE)

# The file readers under libFuzzer (clang): the targets of tests/fuzz (every
# executable named fuzz_* or *_fuzz), FUZZ_SECONDS each.
FUZZ_SECONDS ?= 60
fuzz: deps
	@dpkg-query -W -f='$${Status}' clang libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed" || \
	  (DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq clang libclang-rt-14-dev)
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVALE_FUZZ=ON -DKORVALE_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS)
	@for f in $$(find build-fuzz -type f -perm -u+x \( -name 'fuzz_*' -o -name '*_fuzz' \) | sort); do \
	  echo "== $$f"; $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 || exit 1; \
	done

clean:
	rm -rf $(BUILD_DIR)
