#include "recording/avi_writer.h"

#include <cstdint>
#include <cstdio>

#include "codec/xvid21.h"
#include "control/error_table.h"
#include "net/receive_datagram.h"
#include "platform/ui/msgbox.h"

namespace {

constexpr DWORD kMinimumVideoVersion = 0x010A;  // 1.10
constexpr int kSuggestedBufferSize = 10240;

void ShowError(const char* format, HRESULT hr) {
  char text[96];
  std::snprintf(text, sizeof text, format, static_cast<int>(hr));
  AfxMessageBox(text);
}

}  // namespace

BOOL AVI_Init() {
  if (HIWORD(VideoForWindowsVersion()) < kMinimumVideoVersion) {
    MessageBeep(MB_ICONHAND);
    MessageBoxA(nullptr, "Sorry, Cant't init AVI File !", "Error", MB_ICONHAND);
    return FALSE;
  }
  AVIFileInit();
  return TRUE;
}

void AVI_Exit() { AVIFileExit(); }

BOOL AVI_FileOpenWrite(PAVIFILE* ppFile, const char* szName) {
  const HRESULT hr = AVIFileOpenA(ppFile, szName, OF_WRITE | OF_CREATE, nullptr);
  if (hr != AVIERR_OK) {
    ShowError("Error: AVIFileOpen, error %d", hr);
    return FALSE;
  }
  return TRUE;
}

BOOL AVI_CreateStream(PAVIFILE pFile, PAVISTREAM* ppStream, int nRate, int nSuggestedBufferSize,
                      int nRectWidth, int nRectHeight) {
  AVISTREAMINFO info{};
  info.fccType = streamtypeVIDEO;
  info.fccHandler = mmioFOURCC('x', 'v', 'i', 'd');
  info.dwScale = 1;
  info.dwRate = static_cast<DWORD>(nRate);
  info.dwSuggestedBufferSize = static_cast<DWORD>(nSuggestedBufferSize);
  info.rcFrame = RECT{0, 0, nRectWidth, nRectHeight};
  const HRESULT hr = AVIFileCreateStreamA(pFile, ppStream, &info);
  if (hr != AVIERR_OK) {
    ShowError("Error: AVIFileCreateStream, error %d", hr);
    return FALSE;
  }
  return TRUE;
}

BOOL AVI_SetOptions(PAVISTREAM pStream, int nWidth, int nHeight) {
  BITMAPINFOHEADER bih{};
  bih.biSize = sizeof bih;
  bih.biWidth = nWidth;
  bih.biHeight = nHeight;
  bih.biPlanes = 1;
  bih.biBitCount = 24;
  bih.biCompression = BI_RGB;
  bih.biSizeImage = static_cast<DWORD>(nWidth) * static_cast<DWORD>(nHeight) * 3;
  const HRESULT hr =
      AVIStreamSetFormat(pStream, 0, &bih, static_cast<LONG>(bih.biSize + bih.biClrUsed * sizeof(RGBQUAD)));
  if (hr != AVIERR_OK) {
    ShowError("Failure: AVIStreamSetFormat, error %d", hr);
    return FALSE;
  }
  return TRUE;
}

BOOL AVI_AddFrame(PAVISTREAM pStream, LONG lPosition, const void* pBits, LONG lBytes, DWORD dwFlags) {
  const HRESULT hr = AVIStreamWrite(pStream, lPosition, 1, pBits, lBytes, dwFlags, nullptr, nullptr);
  if (hr != AVIERR_OK) {
    ShowError("Error: AVIStreamWrite, error %d", hr);
    return FALSE;
  }
  return TRUE;
}

void AVI_CloseFile(PAVIFILE* ppFile, PAVISTREAM* ppStream) {
  if (*ppFile) AVIFileRelease(*ppFile);
  *ppFile = nullptr;
  if (*ppStream) AVIStreamRelease(*ppStream);
  *ppStream = nullptr;
}

bool IsRecordableSize(int nWidth, int nHeight) {
  return PictureBytes(nWidth, nHeight) != 0 && nWidth <= xvid21::kMaxDecoderDimension &&
         nHeight <= xvid21::kMaxDecoderDimension;
}

void AVI_ReportOpenFailure(HRESULT hr) {
  ShowError("Error: AVIFileOpen, error %d", hr);
  AfxMessageBox(kTextAviFileOpenWriteFailed);
}

BOOL AVI_SetUpRecording(const char* szFileName, int nSendFrameRate, int nInWidth, int nInHeight,
                        int nOutWidth, int nOutHeight, PAVIFILE* ppFile, PAVISTREAM* ppStream) {
  *ppFile = nullptr;
  *ppStream = nullptr;
  // A header of -1 x -1, or a frame size that wrapped at 32 bits, makes a file nothing can read, and
  // a size no picture is ever decoded at leaves one that stays empty: no file is made for either.
  if (!IsRecordableSize(nOutWidth, nOutHeight)) {
    ShowError("Failure: AVIStreamSetFormat, error %d", AVIERR_BADFORMAT);
    AfxMessageBox(kTextAviSetOptionsFailed);
    return FALSE;
  }
  if (!AVI_FileOpenWrite(ppFile, szFileName)) {
    AfxMessageBox(kTextAviFileOpenWriteFailed);
    return FALSE;
  }
  if (!AVI_CreateStream(*ppFile, ppStream, nSendFrameRate / 2, kSuggestedBufferSize, nInWidth, nInHeight))
    AfxMessageBox(kTextAviCreateStreamFailed);
  if (!AVI_SetOptions(*ppStream, nOutWidth, nOutHeight)) AfxMessageBox(kTextAviSetOptionsFailed);
  return TRUE;
}

void AVI_RecordFrame(PAVISTREAM pStream, LONG* plFramesWritten, const void* pPicture, LONG lBytes,
                     BOOL bKeyFrame) {
  if (!pStream) return;
  const LONG lPosition = *plFramesWritten;
  // Counted as the unsigned value it wraps like, so that a very long recording stays defined.
  *plFramesWritten = static_cast<LONG>(static_cast<std::uint32_t>(lPosition) + 1u);
  AVI_AddFrame(pStream, lPosition, pPicture, lBytes, bKeyFrame ? AVIIF_KEYFRAME : 0);
}
