// Seed inputs of the fuzz targets: with QV_FUZZ_WRITE_SEEDS=dir a target writes its seeds into dir
// and exits, so that scripts/fuzz.sh starts each corpus from real inputs.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz_seeds {

// Writes one seed file; exits with 1 when it cannot.
inline void Write(const std::string& dir, const std::string& name, const std::string& bytes) {
  FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (!f) std::exit(1);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// Runs `write` with the folder and exits when QV_FUZZ_WRITE_SEEDS names one; returns otherwise.
inline void WriteIfAsked(void (*write)(const std::string& dir)) {
  const char* dir = std::getenv("QV_FUZZ_WRITE_SEEDS");
  if (!dir) return;
  write(dir);
  std::exit(0);
}

}  // namespace fuzz_seeds
