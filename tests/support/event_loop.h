// Waiting in tests the way a host waits: the Qt event loop runs (timers, reception, paints).
#pragma once

#include <QImage>
#include <functional>

class CWnd;

// Runs the event loop for `ms` milliseconds.
void Pump(int ms);
// Runs the event loop until `done` holds, at most timeoutMs; answers `done`.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 3000);
// What a window shows, as 32-bit pixels.
QImage Screenshot(CWnd& window);
