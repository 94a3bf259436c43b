#include "capture/capture_setup.h"

#include <cstdlib>
#include <cstring>

void ApplyStreamingParameters(CAPTUREPARMS* parms, int frameRate) {
  parms->dwRequestMicroSecPerFrame = static_cast<DWORD>(1000000 / frameRate);
  parms->fMakeUserHitOKToCapture = FALSE;
  parms->wPercentDropForError = 10;
  parms->fYield = TRUE;
  parms->dwIndexSize = 0;
  parms->wChunkGranularity = 0;
  parms->wNumVideoRequested = 10;
  parms->fCaptureAudio = FALSE;
  parms->wNumAudioRequested = 0;
  parms->vKeyAbort = 0;
  parms->fAbortLeftMouse = FALSE;
  parms->fAbortRightMouse = FALSE;
  parms->fLimitEnabled = FALSE;
  parms->fMCIControl = FALSE;
  parms->fStepCaptureAt2x = FALSE;
  parms->wStepCaptureAverageFrames = 5;
  parms->dwAudioBufferSize = 0;
  parms->AVStreamMaster = AVSTREAMMASTER_NONE;
}

BITMAPINFO CaptureFormatBlock(int width, int height, BOOL rgb16) {
  BITMAPINFO block;
  std::memset(&block, 0, sizeof block);
  BITMAPINFOHEADER& h = block.bmiHeader;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = rgb16 ? 16 : 24;
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * (rgb16 ? 2u : 3u);
  return block;
}

size_t CaptureFrameBytes(int width, int height, BOOL rgb16) {
  if (width <= 0 || height <= 0) return 0;
  const size_t bits = static_cast<size_t>(width) * (rgb16 ? 16u : 24u);
  return (bits + 31) / 32 * 4 * static_cast<size_t>(height);
}

PacketFields DrawHeaderCounters() {
  PacketFields f;
  f.sequence = static_cast<std::uint16_t>(std::rand());
  const std::uint32_t timestampHigh = static_cast<std::uint32_t>(std::rand()) & 0xFFFF;
  f.timestamp = (timestampHigh << 16) | (static_cast<std::uint32_t>(std::rand()) & 0xFFFF);
  const std::uint32_t sourceHigh = static_cast<std::uint32_t>(std::rand()) & 0xFFFF;
  f.sourceId = (sourceHigh << 16) | (static_cast<std::uint32_t>(std::rand()) & 0xFFFF);
  return f;
}
