// The recording's AVI writer as the recorder uses it: a file set up and closed by the recorder's own
// calls, frames written between at the positions the input gives; then the file is
// read back and must hold exactly what was accepted.
//
// Input: [segment size][super index entries], then records of [position step, signed][length, 13
// bits of 2 bytes big-endian][flags]. Segments are small (8 to 135 KiB) and the super index short (1 to 8
// entries), so that inputs reach new segments and a full super index. A step that makes a position
// below 0 must be refused; a step past the end is filled with empty frames.
//
// Checked after each input: the RIFF forms cover the file to the byte; every sample chunk, in order,
// is the accepted frame (or gap filler) with its kind, size and bytes; the frame counts of the main
// header and the OpenDML header; every entry of idx1 and of each segment's standard index points at
// its chunk with its size and kind.
//
// QV_FUZZ_WRITE_SEEDS=dir writes seed inputs into dir and exits.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/seeds.h"
#include "platform/avifile/avifile.h"
#include "recording/avi_writer.h"
#include "tests/platform/avifile/avi_probe.h"

namespace {

constexpr int kWidth = 176;
constexpr int kHeight = 144;

// What the file must hold, sample by sample.
struct Expected {
  bool filler;
  bool key;
  std::uint32_t bytes;
  std::uint8_t fill;  // every byte of the frame
};

[[noreturn]] void Fail(const char* what, std::size_t at) {
  std::fprintf(stderr, "fuzz_avi_writer: %s (at %zu)\n", what, at);
  std::abort();
}
void Check(bool ok, const char* what, std::size_t at = 0) {
  if (!ok) Fail(what, at);
}

const std::string& FilePath() {
  static const std::string path = [] {
    // In memory where there is a place for it: the target writes a file per input.
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/fuzz_avi_writer." + std::to_string(getpid()) + ".avi";
  }();
  return path;
}

// The samples of one RIFF form's movi list, in order.
std::vector<avitest::Sample> SamplesOf(const avitest::AviLayout& a, std::size_t riff) {
  std::vector<avitest::Sample> out;
  if (const avitest::Chunk* movi = a.Movi(riff)) {
    for (const avitest::Chunk& c : movi->children) {
      if (c.id == "00db" || c.id == "00dc") out.push_back({c.id, c.size, c.offset});
    }
  }
  return out;
}

void CheckFile(const std::vector<Expected>& expected) {
  using avitest::U32;
  const avitest::AviLayout a = avitest::Parse(FilePath());
  const std::string& d = a.bytes;
  Check(!a.top.empty() && a.top[0].id == "RIFF" && a.top[0].type == "AVI ", "no RIFF AVI form");
  std::size_t covered = 0;
  for (std::size_t r = 0; r < a.top.size(); ++r) {
    Check(a.top[r].id == "RIFF" && a.top[r].offset == covered, "forms do not follow each other", r);
    Check(r == 0 || a.top[r].type == "AVIX", "a later form is not AVIX", r);
    covered += 8 + a.top[r].size + (a.top[r].size & 1);
  }
  Check(covered == d.size(), "forms do not cover the file");

  std::size_t next = 0;
  for (std::size_t r = 0; r < a.top.size(); ++r) {
    const std::vector<avitest::Sample> samples = SamplesOf(a, r);
    if (r == 0) Check(a.Avih(4) == samples.size(), "main header's frame count");
    for (const avitest::Sample& s : samples) {
      Check(next < expected.size(), "more samples than accepted", next);
      const Expected& e = expected[next++];
      Check(s.id == (e.key ? "00db" : "00dc") && s.size == e.bytes, "sample kind or size", next);
      for (std::uint32_t i = 0; i < s.size; ++i) {
        Check(static_cast<std::uint8_t>(d[s.offset + 8 + i]) == e.fill, "sample bytes", next);
      }
    }
    // The standard index at the end of the movi list, and idx1 after the first one's.
    const avitest::Chunk* movi = a.Movi(r);
    if (!samples.empty()) {
      Check(movi != nullptr && !movi->children.empty() && movi->children.back().id == "ix00", "no ix00", r);
      const std::size_t ix = movi->children.back().data();
      Check(U32(d, ix + 4) == samples.size(), "ix00 entry count", r);
      const std::uint64_t base = avitest::U64(d, ix + 12);
      for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::uint32_t offset = U32(d, ix + 24 + 8 * i);
        const std::uint32_t size = U32(d, ix + 28 + 8 * i);
        Check(base + offset == samples[i].offset + 8, "ix00 offset", i);
        Check((size & 0x7FFFFFFFu) == samples[i].size, "ix00 size", i);
        Check(((size & 0x80000000u) == 0) == (samples[i].id == "00db"), "ix00 kind", i);
      }
    }
    if (r == 0) {
      const avitest::Chunk* idx1 = avitest::Find(a.top[0].children, "idx1");
      Check(idx1 != nullptr && idx1->size == 16 * samples.size(), "idx1 entry count");
      for (std::size_t i = 0; i < samples.size(); ++i) {
        const std::size_t entry = idx1->data() + 16 * i;
        Check(d.substr(entry, 4) == samples[i].id, "idx1 code", i);
        Check((U32(d, entry + 4) == 0x10) == (samples[i].id == "00db"), "idx1 kind", i);
        Check(movi->offset + 8 + U32(d, entry + 8) == samples[i].offset, "idx1 offset", i);
        Check(U32(d, entry + 12) == samples[i].size, "idx1 size", i);
      }
    }
  }
  Check(next == expected.size(), "fewer samples than accepted", next);
  Check(a.Dmlh() == expected.size(), "OpenDML frame count");
}

void WriteSeeds(const std::string& dir) {
  // Key frame, then frames in order, one back, a gap; and the same with tiny segments.
  std::string ops;
  const int steps[] = {0, 1, 1, 0, 1, 5, 1, -3, 1};
  for (int i = 0; i < 9; ++i) {
    const int bytes = 384 * (1 + i % 3) + (i & 1);
    ops += {static_cast<char>(steps[i]), static_cast<char>(bytes >> 8), static_cast<char>(bytes),
            static_cast<char>(i == 0 || i == 6)};
  }
  fuzz_seeds::Write(dir, "seed_frames", std::string("\x08\x07", 2) + ops);
  fuzz_seeds::Write(dir, "seed_segments", std::string("\x00\x01", 2) + ops + ops + ops);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_seeds::WriteIfAsked(WriteSeeds);
  AVIFileInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  SetAVIFileWriterLimits({std::uint64_t{8192} + 4096u * (data[0] & 31u), 1u + (data[1] & 7u)});

  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;
  Check(AVI_SetUpRecording(FilePath().c_str(), 30, kWidth, kHeight, kWidth, kHeight, &file, &stream) && stream,
        "set up");

  std::vector<Expected> expected;
  bool started = false;
  long position = 0;  // of the last write asked for
  long end = 0;       // one past the last sample written
  std::vector<std::uint8_t> frame;
  for (std::size_t at = 2; at + 4 <= size; at += 4) {
    position += static_cast<std::int8_t>(data[at]);
    const std::uint32_t bytes = ((std::uint32_t{data[at + 1]} << 8) | data[at + 2]) & 0x1FFF;
    const bool key = (data[at + 3] & 1) != 0;
    const auto fill = static_cast<std::uint8_t>(at);
    frame.assign(bytes, fill);  // exactly its length, so that a read past it is caught
    const HRESULT hr = AVIStreamWrite(stream, position, 1, frame.data(), static_cast<LONG>(bytes),
                                      key ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
    if (position < 0) Check(hr != AVIERR_OK, "a position below 0 was written", at);
    if (hr != AVIERR_OK) continue;
    if (!started) end = position, started = true;
    for (; end < position; ++end) expected.push_back({true, false, 0, 0});
    expected.push_back({false, key, bytes, fill});
    ++end;
  }
  AVI_CloseFile(&file, &stream);
  CheckFile(expected);
  std::remove(FilePath().c_str());
  return 0;
}
