// The AVIFile calls the recorder makes, over our own RIFF writer (riff_writer.h).
//
// Only writing is built: a file opened with OF_WRITE | OF_CREATE holds one video stream of
// whole-frame samples. What the platform does and files rely on is kept: OF_CREATE truncates,
// failures are the AVIERR_* results, the first write's position becomes the stream's start, a
// write past the end pads the gap with empty chunks, a write before the end is appended as the
// next sample, key frames are "00db" chunks and others "00dc", the movi list starts on a
// 2048-byte boundary and idx1 offsets are relative to "movi".
//
// Beyond the platform, so that a recording is not lost:
// - the headers reach the file when the stream gets its format, every frame when it is written,
//   and the size and length fields are brought up to date after every write: a process killed
//   between two writes leaves a file that players read up to the last frame written;
// - a file grows past one segment (1 GiB by default) as OpenDML: "RIFF AVIX" segments, an
//   "indx" super index, one "ix00" index per segment, total frames in "odml/dmlh";
// - a failed write (disk full) returns AVIERR_FILEWRITE and cuts the file back to the frames
//   written before it, which stay readable; a later write may succeed again;
// - a frame that would leave less than 32 MiB free on the disk (a sixteenth of a small one) fails
//   the same way, so that the file can still be completed;
// - a rate or scale of 0, which gives a file no player can time, is stored as 1.
//
// Not thread-safe per file or stream: all calls for one file come from one thread.
#pragma once

#include <cstdint>

#include "platform/kernel/windef.h"

struct IAVIFile;
struct IAVIStream;
using PAVIFILE = IAVIFile*;
using PAVISTREAM = IAVIStream*;

constexpr UINT OF_WRITE = 0x0001;
constexpr UINT OF_CREATE = 0x1000;

constexpr DWORD streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
constexpr DWORD AVIIF_KEYFRAME = 0x00000010;

constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT MAKE_AVIERR(int error) {
  return static_cast<HRESULT>(0x80044000u + static_cast<DWORD>(error));
}
constexpr HRESULT AVIERR_UNSUPPORTED = MAKE_AVIERR(101);
constexpr HRESULT AVIERR_BADFORMAT = MAKE_AVIERR(102);
constexpr HRESULT AVIERR_MEMORY = MAKE_AVIERR(103);
constexpr HRESULT AVIERR_INTERNAL = MAKE_AVIERR(104);
constexpr HRESULT AVIERR_BADFLAGS = MAKE_AVIERR(105);
constexpr HRESULT AVIERR_BADPARAM = MAKE_AVIERR(106);
constexpr HRESULT AVIERR_BADSIZE = MAKE_AVIERR(107);
constexpr HRESULT AVIERR_BADHANDLE = MAKE_AVIERR(108);
constexpr HRESULT AVIERR_FILEREAD = MAKE_AVIERR(109);
constexpr HRESULT AVIERR_FILEWRITE = MAKE_AVIERR(110);
constexpr HRESULT AVIERR_FILEOPEN = MAKE_AVIERR(111);
constexpr HRESULT AVIERR_ERROR = MAKE_AVIERR(199);
// What a file call answers while the library is not started (AVIFileInit not called, or its
// start-up failed): the platform's "COM not initialised".
constexpr HRESULT AVIERR_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

// Stream information, in the platform's layout (140 bytes).
struct AVISTREAMINFOA {
  DWORD fccType;
  DWORD fccHandler;
  DWORD dwFlags;
  DWORD dwCaps;
  WORD wPriority;
  WORD wLanguage;
  DWORD dwScale;
  DWORD dwRate;
  DWORD dwStart;
  DWORD dwLength;
  DWORD dwInitialFrames;
  DWORD dwSuggestedBufferSize;
  DWORD dwQuality;
  DWORD dwSampleSize;
  RECT rcFrame;
  DWORD dwEditCount;
  DWORD dwFormatChangeCount;
  char szName[64];
};
using AVISTREAMINFO = AVISTREAMINFOA;
static_assert(sizeof(AVISTREAMINFOA) == 140);

// The version of the video library, major number in the top byte of the high word: 1.10 here.
constexpr DWORD kVideoForWindowsVersion = 0x010A0000;
DWORD VideoForWindowsVersion();

// Starts and stops the library; calls nest, each AVIFileInit wants one AVIFileExit.
void AVIFileInit();
void AVIFileExit();

// Opens a file for writing. uMode must hold OF_WRITE and OF_CREATE (the only mode built); an
// existing file is truncated. lpHandler must be null (the library's own writer). AVIERR_FILEOPEN,
// without waiting and without touching the file, for anything but a regular file (a FIFO, a
// device) and for a file another open AVI file (of this process or another) is writing.
HRESULT AVIFileOpenA(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode, const void* lpHandler);

// Creates the file's one stream, a video stream ("vids") of one frame per sample
// (dwSampleSize 0 or the frame size). The stream holds a reference on its file.
HRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFOA* psi);

// Sets the stream's format, a BITMAPINFOHEADER (with its colour table), at position 0, and
// writes the file's headers. Setting the same format again succeeds; another one does not.
HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, const void* lpFormat, LONG cbFormat);

// Writes one sample (lSamples 1) of cbBuffer bytes at sample position lStart, flagged
// AVIIF_KEYFRAME or 0. Refused with AVIERR_BADPARAM: a position below 0, or one more than
// 2^20 samples past the end (a gap that big would fill the disk with empty chunks).
HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, const void* lpBuffer, LONG cbBuffer,
                       DWORD dwFlags, LONG* plSampWritten, LONG* plBytesWritten);

// Drop a reference and answer how many are left. The file is completed (indexes, final
// headers) and closed when its last reference goes, the stream's included.
ULONG AVIStreamRelease(PAVISTREAM pavi);
ULONG AVIFileRelease(PAVIFILE pfile);

// The OpenDML layout of files opened from now on: the most bytes of one RIFF segment
// (default 1 GiB) and the room kept in the header for segment entries of the super index
// (default 256). Segments beyond that room are written and read in order, but not listed.
struct AVIFileWriterLimits {
  std::uint64_t segmentBytes = std::uint64_t{1} << 30;
  std::uint32_t superIndexEntries = 256;
};
void SetAVIFileWriterLimits(const AVIFileWriterLimits& limits);
AVIFileWriterLimits GetAVIFileWriterLimits();

// Test seams: the version VideoForWindowsVersion answers; whether AVIFileInit fails to start
// the library; the most bytes a file may grow to, as if the disk were full past them (a write
// that would cross it fails with ENOSPC), negative for no limit.
void SetVideoForWindowsVersionForTesting(DWORD version);
void SetAVIFileInitFailsForTesting(bool fails);
void SetAVIFileSizeLimitForTesting(std::int64_t bytes);
// Pretends the disk had this many bytes free when files began; negative asks the file system.
void SetAVIFileFreeSpaceForTesting(std::int64_t bytes);
