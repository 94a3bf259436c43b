// A RIFF writer for one video stream: AVI 1.0 headers and idx1, OpenDML segments past a size.
//
// File layout:
//   RIFF 'AVI '                       first segment
//     LIST 'hdrl'
//       avih                          dwTotalFrames = samples of the first segment
//       LIST 'strl'  strh strf indx   indx: super index, room for a fixed number of segments
//       LIST 'odml'  dmlh             total samples of the file
//     JUNK                            so that the movi list starts on a 2048-byte boundary
//     LIST 'movi'  00db|00dc ... ix00 frames, then the segment's standard index
//     idx1                            offsets relative to the 'movi' four-character code
//   RIFF 'AVIX'                       every further segment
//     LIST 'movi'  00db|00dc ... ix00
//
// Every write appends whole chunks at the end and then rewrites the header fields that change
// (RIFF and movi sizes, lengths): the file on disk is complete after every call, only the
// index of the open segment is missing, and readers find those frames by walking the chunks.
// A failed append is cut off again, so the file never ends in half a chunk, and a frame is not
// written when the disk is nearly full, so that there is room to complete the file.
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <vector>

#include "platform/kernel/windef.h"

namespace avi {

// The values of the stream header (strh), as the file stores them.
struct StreamHeader {
  FOURCC fccType = 0;
  FOURCC fccHandler = 0;
  DWORD dwFlags = 0;
  WORD wPriority = 0;
  WORD wLanguage = 0;
  DWORD dwInitialFrames = 0;
  DWORD dwScale = 1;
  DWORD dwRate = 1;
  DWORD dwSuggestedBufferSize = 0;
  DWORD dwQuality = 0;
  DWORD dwSampleSize = 0;
  SHORT rcFrame[4] = {0, 0, 0, 0};  // left, top, right, bottom
};

struct WriterLimits {
  std::uint64_t segmentBytes = std::uint64_t{1} << 30;
  std::uint32_t superIndexEntries = 256;
};

// The most bytes a file may grow to: a write that would cross it fails as on a full disk
// (ENOSPC). Negative: no limit.
void SetFileSizeLimitForTesting(std::int64_t bytes);
// Pretends the file system had this many bytes free when files began (less what they have
// written since), instead of asking it. Negative: ask the file system.
void SetFreeSpaceForTesting(std::int64_t bytes);

class RiffWriter {
 public:
  // Takes the descriptor of an empty file open for writing; closes it when destroyed.
  RiffWriter(int fd, const WriterLimits& limits);
  ~RiffWriter();
  RiffWriter(const RiffWriter&) = delete;
  RiffWriter& operator=(const RiffWriter&) = delete;

  // Writes the headers for the stream and its format (a BITMAPINFOHEADER and what follows it).
  bool Start(const StreamHeader& header, const void* format, std::uint32_t formatBytes);
  bool started() const { return started_; }

  // Appends one sample at `position`: the first write's position is the stream's start; a
  // position past the end is reached with empty chunks; one before the end is appended.
  // Refused: a position below 0, or a gap of more than kMaxGap samples.
  enum class WriteResult { kOk, kBadPosition, kFailed };
  static constexpr std::int64_t kMaxGap = std::int64_t{1} << 20;
  // A sample write that would leave less than this free on the file system (or a sixteenth of a
  // smaller one) fails as on a full disk: the rest is kept for the indexes and headers that
  // complete the file.
  static constexpr std::uint64_t kFreeSpaceReserve = std::uint64_t{32} << 20;
  WriteResult Write(std::int64_t position, const void* data, std::uint32_t bytes, bool keyFrame);

  // Writes the open segment's indexes and the final headers. The file stays readable when
  // this fails (it is left as after the last write).
  bool Finish();

 private:
  struct Entry {
    std::uint64_t chunkOffset;  // of the chunk's four-character code
    std::uint32_t bytes;
    bool keyFrame;
  };
  struct Segment {
    std::uint64_t riffOffset = 0;
    std::uint64_t moviOffset = 0;  // of the LIST code of the movi list
    std::vector<Entry> entries;
  };
  struct SuperEntry {
    std::uint64_t offset;
    std::uint32_t bytes;
    std::uint32_t duration;
  };

  bool first() const { return segment_.riffOffset == 0; }
  std::uint64_t ClosingBytes(std::size_t entries) const;
  bool OpenSegment();
  bool CloseSegment();
  bool Append(const iovec* iov, int count, std::uint64_t bytes);
  bool RewriteHeaders();
  bool RoomToGrow(std::uint64_t bytes) const;
  void PatchHeaders();

  int fd_;
  WriterLimits limits_;
  bool started_ = false;
  bool segmentOpen_ = false;
  bool firstIndexed_ = false;  // idx1 is written

  std::vector<std::uint8_t> header_;  // the first segment's bytes up to its first chunk
  StreamHeader stream_;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::uint32_t indxOffset_ = 0;
  std::uint32_t dmlhOffset_ = 0;

  Segment segment_;
  std::uint64_t moviEnd_ = 0;  // of the open segment's movi list
  std::uint64_t firstRiffEnd_ = 0;
  std::uint64_t firstMoviEnd_ = 0;
  std::vector<std::uint32_t> closedSegments_;  // samples per closed segment
  std::vector<SuperEntry> superIndex_;
  std::uint64_t end_ = 0;
  bool haveStart_ = false;
  std::int64_t start_ = 0;
  std::int64_t samples_ = 0;
  std::uint32_t maxChunk_ = 0;
  std::vector<iovec> iov_;  // kept, so that a write allocates nothing
};

}  // namespace avi
