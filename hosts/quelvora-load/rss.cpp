#include "hosts/quelvora-load/rss.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

std::int64_t ReadRssKb() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  long long kb = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, "VmRSS:", 6) == 0) {
      std::sscanf(line + 6, "%lld", &kb);
      break;
    }
  std::fclose(f);
  return kb;
}

void RssTrack::Sample(std::int64_t kb) {
  if (startKb == 0) startKb = kb;
  peakKb = std::max(peakKb, kb);
  endKb = kb;
}
