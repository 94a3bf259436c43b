# make demo  -- install what is missing, build, run the loopback call
# make test  -- install what is missing, build, run every test
# make soak        -- 30 senders into one control for SOAK_SECONDS (default 600), memory and losses
# make long-record -- LONG_RECORD_FRAMES (default an hour at 15 fps) recorded as fast as the disk goes
# make fuzz-long   -- each fuzz target for FUZZ_SECONDS (default an hour)
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build demo demo-two test bench asan fuzz tsan soak long-record fuzz-long clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) > /dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	./$(BUILD)/hosts/quelvora-host/quelvora-host examples/loopback.js out 10

# The same call as two host processes: Bob first, then Alice.
demo-two: build
	./$(BUILD)/hosts/quelvora-host/quelvora-host examples/call_peer.js bob out 10 & \
	  sleep 1; ./$(BUILD)/hosts/quelvora-host/quelvora-host examples/call_peer.js alice out 10; wait

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	./bench/run.sh $(BUILD)

# Under ThreadSanitizer, in its own build folder: the sending tests (two controls sending at once
# in one process among them), the frame gate asked from several threads, the overlays drawn
# on several capture threads at once, and the capture window's grabbing thread with the cameras'
# cases (a lost camera told to the UI thread among them).
TSAN_BUILD ?= $(BUILD)-tsan
# The sending tests whose threads meet (the others only check pictures, and time out slowed down).
TSAN_SEND_TESTS ?= VideoSenderTest.TwoControls*:VideoSenderTest.SendTwice*:VideoSenderTest.CloseCaptureWhileSending*:VideoSenderTest.Destroying*:VideoSenderTest.InSameSocketMode*
TSAN_ENV = QT_QPA_PLATFORM=offscreen QV_TEST_TMP=$(TSAN_BUILD)/test-tmp \
  TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tests/tsan.supp"
tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DQV_TSAN=ON -DQV_BENCH=OFF $(CMAKE_FLAGS) > /dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target test_net test_capture test_platform_gdi test_platform_vfw
	$(TSAN_ENV) ./$(TSAN_BUILD)/tests/test_net --gtest_filter='$(TSAN_SEND_TESTS)'
	$(TSAN_ENV) ./$(TSAN_BUILD)/tests/test_capture --gtest_filter='FrameGateTest.*:CameraCasesTest.*'
	$(TSAN_ENV) ./$(TSAN_BUILD)/tests/test_platform_vfw --gtest_filter='CaptureWindowTest.*:V4l2DriverTest.*'
	$(TSAN_ENV) ./$(TSAN_BUILD)/tests/test_platform_gdi --gtest_filter='Contexts.OverlaysOnSeveralThreadsAtOnce'

SOAK_SECONDS ?= 600
soak: build
	nice ./$(BUILD)/hosts/quelvora-load/quelvora-load --seconds $(SOAK_SECONDS) --report 30 --out $(BUILD)/soak
	@echo "soak: the recording read back by ffprobe:" $$(ffprobe -v error -count_frames -select_streams v:0 \
	  -show_entries stream=nb_read_frames -of csv=p=0 $(BUILD)/soak/soak.avi) frames
	@[ "$${QV_KEEP_RECORDING:-0}" = 1 ] || rm -f $(BUILD)/soak/soak.avi

LONG_RECORD_FRAMES ?= 54000
long-record: build
	./scripts/long-record.sh $(BUILD) $(LONG_RECORD_FRAMES)

FUZZ_SECONDS ?= 3600
fuzz-long:
	./scripts/fuzz.sh $(FUZZ_SECONDS) $(FUZZ_SECONDS) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
