// Video capture over V4L2 cameras and a built-in test camera, shaped like the desktop platform's
// capture library: driver descriptions, a capture window, and the WM_CAP_* messages sent to it.
//
// The capture window is a child window that shows the live picture (preview) and, on request,
// streams frames to a callback on a thread of its own. Messages are handled on the calling
// thread (SendMessage); WM_CAP_GET_USER_DATA may be sent from the streaming thread. When the
// connected device goes away, the window tells its error callback on the UI thread, once.
// Which drivers exist is chosen in platform/vfw/capture_driver.h.
#pragma once

#include <cstdint>

#include "platform/kernel/windef.h"
#include "platform/ui/wnd.h"

using LPBYTE = BYTE*;
using DWORD_PTR = std::uintptr_t;

// Messages; the values are those of the platform's capture library.
constexpr UINT WM_CAP_START = WM_USER;
constexpr UINT WM_CAP_SET_CALLBACK_ERROR = WM_CAP_START + 2;
constexpr UINT WM_CAP_SET_CALLBACK_VIDEOSTREAM = WM_CAP_START + 6;
constexpr UINT WM_CAP_GET_USER_DATA = WM_CAP_START + 8;
constexpr UINT WM_CAP_SET_USER_DATA = WM_CAP_START + 9;
constexpr UINT WM_CAP_DRIVER_CONNECT = WM_CAP_START + 10;
constexpr UINT WM_CAP_DRIVER_DISCONNECT = WM_CAP_START + 11;
constexpr UINT WM_CAP_DRIVER_GET_CAPS = WM_CAP_START + 14;
constexpr UINT WM_CAP_GET_VIDEOFORMAT = WM_CAP_START + 44;
constexpr UINT WM_CAP_SET_VIDEOFORMAT = WM_CAP_START + 45;
constexpr UINT WM_CAP_SET_PREVIEW = WM_CAP_START + 50;
constexpr UINT WM_CAP_SET_OVERLAY = WM_CAP_START + 51;
constexpr UINT WM_CAP_SET_PREVIEWRATE = WM_CAP_START + 52;
constexpr UINT WM_CAP_SET_SCALE = WM_CAP_START + 53;
constexpr UINT WM_CAP_SEQUENCE_NOFILE = WM_CAP_START + 63;
constexpr UINT WM_CAP_SET_SEQUENCE_SETUP = WM_CAP_START + 64;
constexpr UINT WM_CAP_GET_SEQUENCE_SETUP = WM_CAP_START + 65;
constexpr UINT WM_CAP_STOP = WM_CAP_START + 68;
constexpr UINT WM_CAP_ABORT = WM_CAP_START + 69;
static_assert(WM_CAP_SET_CALLBACK_VIDEOSTREAM == 0x406 && WM_CAP_DRIVER_GET_CAPS == 0x40E &&
              WM_CAP_SET_VIDEOFORMAT == 0x42D && WM_CAP_SET_SCALE == 0x435 &&
              WM_CAP_SEQUENCE_NOFILE == 0x43F && WM_CAP_GET_SEQUENCE_SETUP == 0x441 && WM_CAP_ABORT == 0x445);

constexpr int MAXVIDEODRIVERS = 10;

constexpr UINT AVSTREAMMASTER_AUDIO = 0;
constexpr UINT AVSTREAMMASTER_NONE = 1;

// Streaming-capture parameters: 96 bytes, 32-bit members in the platform's order.
#pragma pack(push, 4)
struct CAPTUREPARMS {
  DWORD dwRequestMicroSecPerFrame;
  BOOL fMakeUserHitOKToCapture;
  UINT wPercentDropForError;
  BOOL fYield;
  DWORD dwIndexSize;
  UINT wChunkGranularity;
  BOOL fUsingDOSMemory;
  UINT wNumVideoRequested;
  BOOL fCaptureAudio;
  UINT wNumAudioRequested;
  UINT vKeyAbort;
  BOOL fAbortLeftMouse;
  BOOL fAbortRightMouse;
  BOOL fLimitEnabled;
  UINT wTimeLimit;
  BOOL fMCIControl;
  BOOL fStepMCIDevice;
  DWORD dwMCIStartTime;
  DWORD dwMCIStopTime;
  BOOL fStepCaptureAt2x;
  UINT wStepCaptureAverageFrames;
  DWORD dwAudioBufferSize;
  BOOL fDisableWriteCache;
  UINT AVStreamMaster;
};

// Driver capabilities: 44 bytes. The four handles are 32-bit, as in the block callers size with 44.
struct CAPDRIVERCAPS {
  UINT wDeviceIndex;
  BOOL fHasOverlay;
  BOOL fHasDlgVideoSource;
  BOOL fHasDlgVideoFormat;
  BOOL fHasDlgVideoDisplay;
  BOOL fCaptureInitialized;
  BOOL fDriverSuppliesPalettes;
  DWORD hVideoIn;
  DWORD hVideoOut;
  DWORD hVideoExtIn;
  DWORD hVideoExtOut;
};
#pragma pack(pop)
static_assert(sizeof(CAPTUREPARMS) == 96);
static_assert(sizeof(CAPDRIVERCAPS) == 44);
using LPCAPTUREPARMS = CAPTUREPARMS*;
using LPCAPDRIVERCAPS = CAPDRIVERCAPS*;

// One captured frame as handed to the video-stream callback.
struct VIDEOHDR {
  LPBYTE lpData;         // the pixels: a DIB in the current video format
  DWORD dwBufferLength;  // size of the buffer at lpData
  DWORD dwBytesUsed;     // bytes of the frame
  DWORD dwTimeCaptured;  // milliseconds since the stream started
  DWORD_PTR dwUser;
  DWORD dwFlags;  // VHDR_*
  DWORD_PTR dwReserved[4];
};
using LPVIDEOHDR = VIDEOHDR*;

constexpr DWORD VHDR_DONE = 0x00000001;
constexpr DWORD VHDR_PREPARED = 0x00000002;
constexpr DWORD VHDR_INQUEUE = 0x00000004;
constexpr DWORD VHDR_KEYFRAME = 0x00000008;

// The video-stream callback; runs on the streaming thread. Its result is ignored.
using CAPVIDEOCALLBACK = LRESULT (*)(HWND hWnd, LPVIDEOHDR lpVHdr);

// The error callback; runs on the UI thread. nID is the error, lpsz its text.
using CAPERRORCALLBACK = LRESULT (*)(HWND hWnd, int nID, LPCSTR lpsz);
// The driver reports an error of its own: here, the connected device went away (a camera unplugged
// or failing every read). Streaming and preview have stopped; the text names the device.
constexpr int IDS_CAP_DRIVER_ERROR = 418;

// Fills the name and version of driver `index` (0 to 9), each cut to its buffer and
// NUL-terminated. FALSE when there is no such driver.
BOOL capGetDriverDescriptionA(WORD index, LPSTR name, INT nameLength, LPSTR version, INT versionLength);

// Makes a capture window (not yet connected to a driver). The window is a child of `parent`
// when one is given. NULL when the parent is not a window.
HWND capCreateCaptureWindowA(LPCSTR title, DWORD style, int x, int y, int width, int height, HWND parent,
                             int id);

// The platform's message helpers: each sends its message only while the window exists.
inline LRESULT AVICapSM(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return IsWindow(hwnd) ? SendMessage(hwnd, message, wParam, lParam) : FALSE;
}
inline BOOL capDriverConnect(HWND hwnd, int index) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_DRIVER_CONNECT, static_cast<WPARAM>(index), 0));
}
inline BOOL capDriverDisconnect(HWND hwnd) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_DRIVER_DISCONNECT, 0, 0));
}
inline BOOL capDriverGetCaps(HWND hwnd, CAPDRIVERCAPS* caps, UINT size) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_DRIVER_GET_CAPS, size, reinterpret_cast<LPARAM>(caps)));
}
inline BOOL capCaptureGetSetup(HWND hwnd, CAPTUREPARMS* parms, UINT size) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_GET_SEQUENCE_SETUP, size, reinterpret_cast<LPARAM>(parms)));
}
inline BOOL capCaptureSetSetup(HWND hwnd, const CAPTUREPARMS* parms, UINT size) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_SET_SEQUENCE_SETUP, size, reinterpret_cast<LPARAM>(parms)));
}
// The format block is a BITMAPINFO (header and any colour table) of `size` bytes.
inline BOOL capSetVideoFormat(HWND hwnd, const void* format, UINT size) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_SET_VIDEOFORMAT, size, reinterpret_cast<LPARAM>(format)));
}
// Copies at most `size` bytes of the current format (a 40-byte header for the RGB formats delivered)
// when `format` is given; returns the format's size, 0 when no driver is connected.
inline DWORD capGetVideoFormat(HWND hwnd, void* format, UINT size) {
  return static_cast<DWORD>(AVICapSM(hwnd, WM_CAP_GET_VIDEOFORMAT, size, reinterpret_cast<LPARAM>(format)));
}
inline BOOL capPreview(HWND hwnd, BOOL on) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_SET_PREVIEW, static_cast<WPARAM>(on), 0));
}
inline BOOL capOverlay(HWND hwnd, BOOL on) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_SET_OVERLAY, static_cast<WPARAM>(on), 0));
}
inline BOOL capPreviewRate(HWND hwnd, UINT milliseconds) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_SET_PREVIEWRATE, milliseconds, 0));
}
inline BOOL capPreviewScale(HWND hwnd, BOOL on) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_SET_SCALE, static_cast<WPARAM>(on), 0));
}
inline BOOL capSetUserData(HWND hwnd, LPARAM data) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_SET_USER_DATA, 0, data));
}
inline LPARAM capGetUserData(HWND hwnd) { return AVICapSM(hwnd, WM_CAP_GET_USER_DATA, 0, 0); }
inline BOOL capSetCallbackOnVideoStream(HWND hwnd, CAPVIDEOCALLBACK callback) {
  return static_cast<BOOL>(
      AVICapSM(hwnd, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(callback)));
}
inline BOOL capSetCallbackOnError(HWND hwnd, CAPERRORCALLBACK callback) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_SET_CALLBACK_ERROR, 0, reinterpret_cast<LPARAM>(callback)));
}
inline BOOL capCaptureSequenceNoFile(HWND hwnd) {
  return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_SEQUENCE_NOFILE, 0, 0));
}
inline BOOL capCaptureStop(HWND hwnd) { return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_STOP, 0, 0)); }
inline BOOL capCaptureAbort(HWND hwnd) { return static_cast<BOOL>(AVICapSM(hwnd, WM_CAP_ABORT, 0, 0)); }

// What a capture window is doing, for hosts' figures and for tests (the platform has no such
// query; the control does not use it).
struct CaptureWindowInfo {
  int driverIndex = -1;  // -1 when no driver is connected
  BITMAPINFOHEADER format{};
  bool preview = false;
  bool overlay = false;
  bool scale = false;
  UINT previewRateMs = 0;
  bool streaming = false;  // a stream was started and has not been stopped
  bool callbackSet = false;
  std::uint64_t framesDelivered = 0;  // callback calls since the window was made
  std::uint64_t previewPictures = 0;  // pictures painted into the window
  bool lost = false;                  // the connected device went away
};
// FALSE when hwnd is not a capture window.
BOOL GetCaptureWindowInfo(HWND hwnd, CaptureWindowInfo* info);
