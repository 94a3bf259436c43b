// Reading the AVI files the tests write: a small RIFF parser of our own, and the outside
// readers (ffprobe, ffmpeg, GStreamer's avidemux) run on the command line.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace avitest {

inline std::uint32_t U32(const std::string& d, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(d.at(at + i));
  return v;
}
inline std::uint16_t U16(const std::string& d, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(d.at(at)) |
                                    (static_cast<std::uint8_t>(d.at(at + 1)) << 8));
}
inline std::uint64_t U64(const std::string& d, std::size_t at) {
  return U32(d, at) | (std::uint64_t{U32(d, at + 4)} << 32);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One chunk or list of the file: `offset` is where its four-character code is.
struct Chunk {
  std::string id;    // "RIFF", "LIST" or a chunk code
  std::string type;  // the form or list type of RIFF and LIST
  std::size_t offset = 0;
  std::uint32_t size = 0;
  std::vector<Chunk> children;
  std::size_t data() const { return offset + (type.empty() ? 8 : 12); }
};

inline std::vector<Chunk> ParseChunks(const std::string& d, std::size_t from, std::size_t to) {
  std::vector<Chunk> out;
  while (from + 8 <= to) {
    Chunk c;
    c.id = d.substr(from, 4);
    c.offset = from;
    c.size = U32(d, from + 4);
    const std::size_t end = std::min<std::size_t>(from + 8 + c.size, to);
    if (c.id == "RIFF" || c.id == "LIST") {
      c.type = d.substr(from + 8, 4);
      c.children = ParseChunks(d, from + 12, end);
    }
    out.push_back(c);
    from += 8 + c.size + (c.size & 1);
  }
  return out;
}

inline const Chunk* Find(const std::vector<Chunk>& in, const std::string& id, const std::string& type = "") {
  for (const Chunk& c : in) {
    if (c.id == id && (type.empty() || c.type == type)) return &c;
  }
  return nullptr;
}

// The file as our parser sees it.
struct AviLayout {
  std::string bytes;
  std::vector<Chunk> top;  // the RIFF forms
  const Chunk* Hdrl() const { return Find(top.at(0).children, "LIST", "hdrl"); }
  const Chunk* Strl() const { return Find(Hdrl()->children, "LIST", "strl"); }
  const Chunk* Movi(std::size_t riff) const { return Find(top.at(riff).children, "LIST", "movi"); }
  std::uint32_t Avih(int field) const {
    return U32(bytes, Find(Hdrl()->children, "avih")->data() + 4 * field);
  }
  std::uint32_t Dmlh() const {
    return U32(bytes, Find(Find(Hdrl()->children, "LIST", "odml")->children, "dmlh")->data());
  }
  std::size_t Strh() const { return Find(Strl()->children, "strh")->data(); }
  const Chunk* Strf() const { return Find(Strl()->children, "strf"); }
};

inline AviLayout Parse(const std::string& path) {
  AviLayout a;
  a.bytes = ReadFile(path);
  a.top = ParseChunks(a.bytes, 0, a.bytes.size());
  return a;
}

// Every sample chunk of the file in order, with its code and data size.
struct Sample {
  std::string id;
  std::uint32_t size;
  std::size_t offset;
};
inline std::vector<Sample> Samples(const AviLayout& a) {
  std::vector<Sample> out;
  for (std::size_t r = 0; r < a.top.size(); ++r) {
    const Chunk* movi = a.Movi(r);
    if (!movi) continue;
    for (const Chunk& c : movi->children) {
      if (c.id == "00db" || c.id == "00dc") out.push_back({c.id, c.size, c.offset});
    }
  }
  return out;
}

inline std::string Run(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) return out;
  char buf[65536];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// key=value lines of ffprobe's report on the video stream.
inline std::map<std::string, std::string> ProbeStream(const std::string& path) {
  std::map<std::string, std::string> m;
  std::istringstream in(Run("ffprobe -v error -show_streams -count_packets -of default=nw=1 '" + path + "'"));
  std::string line;
  int streams = 0;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (line.compare(0, eq, "index") == 0) ++streams;
    m[line.substr(0, eq)] = line.substr(eq + 1);
  }
  m["streams"] = std::to_string(streams);
  return m;
}

// The presentation times of the packets ffprobe reads.
inline std::vector<long> ProbePacketTimes(const std::string& path) {
  std::vector<long> pts;
  std::istringstream in(Run("ffprobe -v error -show_entries packet=pts -of csv=p=0 '" + path + "'"));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) pts.push_back(std::stol(line));
  }
  return pts;
}

// Decodes every frame with ffmpeg into packed BGR rows, top row first, one frame per packet.
inline std::vector<std::string> DecodeFrames(const std::string& path, int width, int height) {
  const std::string raw =
      Run("ffmpeg -v error -i '" + path + "' -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -");
  const std::size_t frame = static_cast<std::size_t>(width) * height * 3;
  std::vector<std::string> frames;
  for (std::size_t at = 0; at + frame <= raw.size(); at += frame) frames.push_back(raw.substr(at, frame));
  return frames;
}

// Per buffer GStreamer's demuxer hands on: true when it is marked a key unit (not delta).
inline std::vector<bool> GstKeyUnits(const std::string& path) {
  std::vector<bool> keys;
  std::istringstream in(
      Run("gst-launch-1.0 -v filesrc location='" + path + "' ! avidemux ! fakesink silent=false sync=false"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("chain") == std::string::npos || line.find("flags:") == std::string::npos) continue;
    keys.push_back(line.find("delta-unit") == std::string::npos);
  }
  return keys;
}

// A picture as the recorder hands it over: bottom row first, different for every frame.
inline std::vector<std::uint8_t> Picture(int width, int height, int frame) {
  std::vector<std::uint8_t> p(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t i = 0; i < p.size(); ++i)
    p[i] = static_cast<std::uint8_t>(i * 7 + i / (width * 3) + frame * 31);
  return p;
}

// The same picture as a decoder outputs it: top row first.
inline std::string TopDown(const std::vector<std::uint8_t>& bottomUp, int width, int height) {
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  std::string out;
  for (int y = height - 1; y >= 0; --y) out.append(reinterpret_cast<const char*>(&bottomUp[y * row]), row);
  return out;
}

// A scratch folder of the test, removed afterwards.
inline std::string ScratchDir(const std::string& name) {
  const char* base = std::getenv("QV_TEST_TMP");
  std::filesystem::path dir =
      std::filesystem::path(base ? base : "/tmp") / ("avi-" + name + "-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return dir.string();
}

}  // namespace avitest
