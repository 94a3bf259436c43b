// quelvora-load [--seconds N] [--senders N] [--fps N] [--report S] [--out DIR] [--max-growth-mb M]
// quelvora-load --record-frames N [--fps N] [--report S] [--out DIR]
//
// A soak: many senders into one receiving control for as long as asked (`make soak`); or a
// long recording pushed through the control as fast as it writes (`make long-record`).
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hosts/quelvora-load/load_run.h"

namespace {

bool ParseOptions(int argc, char** argv, LoadOptions* o) {
  if (argc % 2 == 0) return false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const char* value = argv[i + 1];
    if (key == "--seconds")
      o->seconds = std::atoi(value);
    else if (key == "--senders")
      o->senders = std::atoi(value);
    else if (key == "--fps")
      o->fps = std::atoi(value);
    else if (key == "--report")
      o->reportSeconds = std::atoi(value);
    else if (key == "--out")
      o->out = value;
    else if (key == "--max-growth-mb")
      o->maxGrowthMb = std::atoi(value);
    else if (key == "--record-frames")
      o->recordFrames = std::atol(value);
    else
      return false;
  }
  return o->seconds > 0 && o->senders >= 1 && o->senders <= 30 && o->fps >= 1 && o->fps <= 100 &&
         o->reportSeconds > 0 && o->recordFrames >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  LoadOptions o;
  if (!ParseOptions(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: quelvora-load [--seconds N] [--senders 1..30] [--fps N] [--report S] [--out DIR] "
                 "[--max-growth-mb M]\n"
                 "       quelvora-load --record-frames N [--fps N] [--report S] [--out DIR]\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  return o.recordFrames > 0 ? RunLongRecord(o) : RunSoak(o);
}
