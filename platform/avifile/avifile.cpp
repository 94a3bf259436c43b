#include "platform/avifile/avifile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/avifile/riff_writer.h"

struct IAVIFile {
  ULONG refs = 1;
  std::unique_ptr<avi::RiffWriter> writer;
  IAVIStream* stream = nullptr;  // its one stream while that lives
};

struct IAVIStream {
  ULONG refs = 1;
  IAVIFile* file = nullptr;  // a reference held until the stream goes
  avi::StreamHeader header;
  std::vector<std::uint8_t> format;
};

namespace {

std::atomic<DWORD> g_version{kVideoForWindowsVersion};
std::atomic<bool> g_initFails{false};
std::atomic<int> g_initCount{0};

std::mutex g_limitsMutex;
AVIFileWriterLimits g_limits;

// The largest format taken: a bitmap header with a full 256-colour table and some room.
constexpr LONG kMaxFormatBytes = 64 * 1024;

// Opens a file to record into, or answers -1. Without O_NONBLOCK a FIFO would hold the caller
// in open() until some reader came; anything but a regular file (a FIFO, a device) is refused.
// The exclusive lock, held until the file is closed, refuses a file that another recording, in
// this process or another, is writing: both would write their frames over each other's. The file
// is emptied only once it is known to be ours.
int OpenForRecording(const char* name) {
  int fd;
  do {
    fd = open(name, O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0 ||
      ftruncate(fd, 0) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

ULONG ReleaseFile(IAVIFile* file) {
  if (--file->refs) return file->refs;
  // Completing the file is all the last release can do; a failure leaves it as after its
  // last write, which stays readable.
  file->writer->Finish();
  delete file;
  return 0;
}

}  // namespace

DWORD VideoForWindowsVersion() { return g_version; }

void AVIFileInit() {
  if (!g_initFails) ++g_initCount;
}

void AVIFileExit() {
  int n = g_initCount;
  while (n > 0 && !g_initCount.compare_exchange_weak(n, n - 1)) {
  }
}

HRESULT AVIFileOpenA(PAVIFILE* ppfile, LPCSTR szFile, UINT uMode, const void* lpHandler) {
  if (!ppfile || !szFile) return AVIERR_BADPARAM;
  *ppfile = nullptr;
  if (g_initCount <= 0) return AVIERR_NOTINITIALIZED;
  if ((uMode & (OF_WRITE | OF_CREATE)) != (OF_WRITE | OF_CREATE) || lpHandler) return AVIERR_UNSUPPORTED;
  const int fd = OpenForRecording(szFile);
  if (fd < 0) return AVIERR_FILEOPEN;
  auto* file = new (std::nothrow) IAVIFile;
  if (!file) {
    close(fd);
    return AVIERR_MEMORY;
  }
  const AVIFileWriterLimits limits = GetAVIFileWriterLimits();
  file->writer =
      std::make_unique<avi::RiffWriter>(fd, avi::WriterLimits{limits.segmentBytes, limits.superIndexEntries});
  *ppfile = file;
  return AVIERR_OK;
}

HRESULT AVIFileCreateStreamA(PAVIFILE pfile, PAVISTREAM* ppavi, const AVISTREAMINFOA* psi) {
  if (!ppavi) return AVIERR_BADPARAM;
  *ppavi = nullptr;
  if (!pfile) return AVIERR_BADHANDLE;
  if (!psi) return AVIERR_BADPARAM;
  // One video stream per file, set up before the headers are written.
  if (psi->fccType != streamtypeVIDEO || pfile->stream || pfile->writer->started()) return AVIERR_UNSUPPORTED;
  auto* stream = new (std::nothrow) IAVIStream;
  if (!stream) return AVIERR_MEMORY;
  avi::StreamHeader& h = stream->header;
  h.fccType = psi->fccType;
  h.fccHandler = psi->fccHandler;
  h.dwFlags = psi->dwFlags;
  h.wPriority = psi->wPriority;
  h.wLanguage = psi->wLanguage;
  h.dwInitialFrames = psi->dwInitialFrames;
  h.dwScale = psi->dwScale;  // a 0 here or in the rate becomes 1 in the file
  h.dwRate = psi->dwRate;
  h.dwSuggestedBufferSize = psi->dwSuggestedBufferSize;
  h.dwQuality = psi->dwQuality;
  h.dwSampleSize = psi->dwSampleSize;
  h.rcFrame[0] = static_cast<SHORT>(psi->rcFrame.left);
  h.rcFrame[1] = static_cast<SHORT>(psi->rcFrame.top);
  h.rcFrame[2] = static_cast<SHORT>(psi->rcFrame.right);
  h.rcFrame[3] = static_cast<SHORT>(psi->rcFrame.bottom);
  stream->file = pfile;
  ++pfile->refs;
  pfile->stream = stream;
  *ppavi = stream;
  return AVIERR_OK;
}

HRESULT AVIStreamSetFormat(PAVISTREAM pavi, LONG lPos, const void* lpFormat, LONG cbFormat) {
  if (!pavi) return AVIERR_BADHANDLE;
  if (!lpFormat || cbFormat < static_cast<LONG>(sizeof(BITMAPINFOHEADER)) || cbFormat > kMaxFormatBytes)
    return AVIERR_BADPARAM;
  BITMAPINFOHEADER bih;
  std::memcpy(&bih, lpFormat, sizeof bih);
  if (bih.biSize < sizeof bih || static_cast<LONG>(bih.biSize) > cbFormat || bih.biWidth == 0 ||
      bih.biHeight == 0)
    return AVIERR_BADFORMAT;
  const auto* bytes = static_cast<const std::uint8_t*>(lpFormat);
  std::vector<std::uint8_t> format(bytes, bytes + cbFormat);
  if (!pavi->format.empty()) {
    // The format is the file's header: it can be given again, not changed.
    if (format != pavi->format) return AVIERR_UNSUPPORTED;
  } else {
    if (lPos != 0) return AVIERR_UNSUPPORTED;
    pavi->format = std::move(format);
  }
  avi::RiffWriter& writer = *pavi->file->writer;
  if (!writer.started() &&
      !writer.Start(pavi->header, pavi->format.data(), static_cast<std::uint32_t>(pavi->format.size())))
    return AVIERR_FILEWRITE;
  return AVIERR_OK;
}

HRESULT AVIStreamWrite(PAVISTREAM pavi, LONG lStart, LONG lSamples, const void* lpBuffer, LONG cbBuffer,
                       DWORD dwFlags, LONG* plSampWritten, LONG* plBytesWritten) {
  if (plSampWritten) *plSampWritten = 0;
  if (plBytesWritten) *plBytesWritten = 0;
  if (!pavi) return AVIERR_BADHANDLE;
  if (cbBuffer < 0 || (cbBuffer > 0 && !lpBuffer)) return AVIERR_BADPARAM;
  if (lSamples != 1) return AVIERR_UNSUPPORTED;
  if (pavi->format.empty()) return AVIERR_BADFORMAT;
  avi::RiffWriter& writer = *pavi->file->writer;
  // Headers that could not be written when the format was set are written now.
  if (!writer.started() &&
      !writer.Start(pavi->header, pavi->format.data(), static_cast<std::uint32_t>(pavi->format.size())))
    return AVIERR_FILEWRITE;
  switch (
      writer.Write(lStart, lpBuffer, static_cast<std::uint32_t>(cbBuffer), (dwFlags & AVIIF_KEYFRAME) != 0)) {
    case avi::RiffWriter::WriteResult::kOk:
      break;
    case avi::RiffWriter::WriteResult::kBadPosition:
      return AVIERR_BADPARAM;
    case avi::RiffWriter::WriteResult::kFailed:
      return AVIERR_FILEWRITE;
  }
  if (plSampWritten) *plSampWritten = 1;
  if (plBytesWritten) *plBytesWritten = cbBuffer;
  return AVIERR_OK;
}

ULONG AVIStreamRelease(PAVISTREAM pavi) {
  if (!pavi) return 0;
  if (--pavi->refs) return pavi->refs;
  pavi->file->stream = nullptr;
  ReleaseFile(pavi->file);
  delete pavi;
  return 0;
}

ULONG AVIFileRelease(PAVIFILE pfile) { return pfile ? ReleaseFile(pfile) : 0; }

void SetAVIFileWriterLimits(const AVIFileWriterLimits& limits) {
  std::lock_guard<std::mutex> lock(g_limitsMutex);
  g_limits = limits;
}

AVIFileWriterLimits GetAVIFileWriterLimits() {
  std::lock_guard<std::mutex> lock(g_limitsMutex);
  return g_limits;
}

void SetVideoForWindowsVersionForTesting(DWORD version) { g_version = version; }
void SetAVIFileInitFailsForTesting(bool fails) { g_initFails = fails; }
void SetAVIFileSizeLimitForTesting(std::int64_t bytes) { avi::SetFileSizeLimitForTesting(bytes); }
void SetAVIFileFreeSpaceForTesting(std::int64_t bytes) { avi::SetFreeSpaceForTesting(bytes); }
