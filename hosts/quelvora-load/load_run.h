// The two runs of quelvora-load and what they share.
#pragma once

#include <cstdint>
#include <string>

class CQuelvoraCtrl;

struct LoadOptions {
  int seconds = 600;       // soak: how long the senders send
  int senders = 30;        // soak: 1 to 30
  int fps = 15;            // the senders' frame rate, and the control's send frame rate
  int reportSeconds = 30;  // progress every so often
  std::string out = ".";   // where the recording goes
  int maxGrowthMb = 16;    // soak: the most the process may grow after warm-up
  long recordFrames = 0;   // above 0: a long recording of this many frames instead of a soak
};

// Many senders into one control for a time; exit code 0 when memory stayed bounded.
int RunSoak(const LoadOptions& o);
// One sender's frames recorded as fast as the control writes them; exit code 0 when every
// frame was recorded.
int RunLongRecord(const LoadOptions& o);

// Runs the event loop (the control's receive timer among it) for `ms`.
void Pump(int ms);
// A receiving control on its own window at a free loopback port (and the one after it).
bool StartReceiving(CQuelvoraCtrl& ctrl, int fps, std::uint16_t* port);
inline double Mb(std::int64_t kb) { return static_cast<double>(kb) / 1024.0; }
