#include "platform/avifile/riff_writer.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace avi {
namespace {

std::atomic<std::int64_t> g_fileSizeLimit{-1};
std::atomic<std::int64_t> g_freeSpaceAtStart{-1};

constexpr FOURCC kRiff = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC kList = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC kKeyChunk = mmioFOURCC('0', '0', 'd', 'b');
constexpr FOURCC kDeltaChunk = mmioFOURCC('0', '0', 'd', 'c');

constexpr DWORD AVIF_HASINDEX = 0x00000010;
constexpr DWORD AVIF_ISINTERLEAVED = 0x00000100;
constexpr DWORD AVIF_TRUSTCKTYPE = 0x00000800;
constexpr DWORD AVIIF_KEYFRAME = 0x00000010;
constexpr std::uint8_t AVI_INDEX_OF_INDEXES = 0x00;
constexpr std::uint8_t AVI_INDEX_OF_CHUNKS = 0x01;
constexpr DWORD kNotKeyFrameBit = 0x80000000u;  // in a standard index entry's size

// Fixed offsets of the first segment's header (the variable part starts with strf).
constexpr std::uint32_t kRiffSize = 4;
constexpr std::uint32_t kHdrlSize = 16;
constexpr std::uint32_t kAvih = 32;  // avih data
constexpr std::uint32_t kStrlSize = 92;
constexpr std::uint32_t kStrh = 108;  // strh data
constexpr std::uint32_t kMoviAlign = 2048;
constexpr std::uint32_t kDmlhBytes = 248;
constexpr std::uint32_t kStdIndexHeader = 32;  // ix00 code, size and header fields

// Empty chunks padding a gap are written from this block, a few at a time.
constexpr std::uint32_t kPadChunksPerBlock = 512;

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(std::uint8_t* p, std::uint64_t v) {
  Put32(p, static_cast<std::uint32_t>(v));
  Put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// Little-endian bytes built front to back.
class Bytes {
 public:
  explicit Bytes(std::vector<std::uint8_t>& out) : out_(out) {}
  std::uint32_t size() const { return static_cast<std::uint32_t>(out_.size()); }
  void U8(std::uint8_t v) { out_.push_back(v); }
  void U16(std::uint16_t v) {
    out_.resize(out_.size() + 2);
    Put16(out_.data() + out_.size() - 2, v);
  }
  void U32(std::uint32_t v) {
    out_.resize(out_.size() + 4);
    Put32(out_.data() + out_.size() - 4, v);
  }
  void U64(std::uint64_t v) {
    out_.resize(out_.size() + 8);
    Put64(out_.data() + out_.size() - 8, v);
  }
  void Raw(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  void Zeros(std::size_t n) { out_.resize(out_.size() + n, 0); }

 private:
  std::vector<std::uint8_t>& out_;
};

constexpr std::size_t kIndexEntriesAtOnce = 30 * 60;

DWORD OrOne(DWORD v) { return v ? v : 1; }

// Writes every byte of `iov` (`bytes` in all) at `offset`, going on after short writes.
bool WriteFully(int fd, const iovec* iov, int count, std::uint64_t offset, std::uint64_t bytes) {
  std::uint64_t written = 0;
  if (count <= IOV_MAX) {
    // Nearly always one call does it all, with no copy of the vector.
    const ssize_t done = pwritev(fd, iov, count, static_cast<off_t>(offset));
    if (done < 0 && errno != EINTR) return false;
    if (done > 0) written = static_cast<std::uint64_t>(done);
    if (written == bytes) return true;
    offset += written;
  }
  std::vector<iovec> rest(iov, iov + count);
  std::size_t first = 0;
  for (;;) {
    std::uint64_t skip = written;
    while (first < rest.size() && skip >= rest[first].iov_len) skip -= rest[first++].iov_len;
    if (first == rest.size()) return true;
    rest[first].iov_base = static_cast<std::uint8_t*>(rest[first].iov_base) + skip;
    rest[first].iov_len -= skip;
    const int n = static_cast<int>(std::min<std::size_t>(rest.size() - first, IOV_MAX));
    const ssize_t done = pwritev(fd, rest.data() + first, n, static_cast<off_t>(offset));
    if (done < 0) {
      if (errno == EINTR) {
        written = 0;
        continue;
      }
      return false;
    }
    if (done == 0) {
      errno = EIO;
      return false;
    }
    offset += static_cast<std::uint64_t>(done);
    written = static_cast<std::uint64_t>(done);
  }
}

}  // namespace

void SetFileSizeLimitForTesting(std::int64_t bytes) { g_fileSizeLimit = bytes; }
void SetFreeSpaceForTesting(std::int64_t bytes) { g_freeSpaceAtStart = bytes; }

bool RiffWriter::RoomToGrow(std::uint64_t bytes) const {
  std::uint64_t free;
  std::uint64_t reserve = kFreeSpaceReserve;
  const std::int64_t pretended = g_freeSpaceAtStart;
  if (pretended >= 0) {
    free = static_cast<std::uint64_t>(pretended) > end_ ? static_cast<std::uint64_t>(pretended) - end_ : 0;
  } else {
    struct statvfs st;
    if (fstatvfs(fd_, &st) != 0) return true;  // nothing known: the write itself will tell
    free = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    // A small file system keeps a sixteenth of itself.
    reserve = std::min<std::uint64_t>(reserve, static_cast<std::uint64_t>(st.f_blocks) * st.f_frsize / 16);
  }
  return free >= bytes + reserve;
}

RiffWriter::RiffWriter(int fd, const WriterLimits& limits) : fd_(fd), limits_(limits) {
  // A RIFF size is 32 bits and index offsets within a segment too: keep segments well below.
  limits_.segmentBytes = std::min<std::uint64_t>(limits_.segmentBytes, std::uint64_t{1} << 31);
  limits_.superIndexEntries = std::clamp<std::uint32_t>(limits_.superIndexEntries, 1, 1u << 16);
}

RiffWriter::~RiffWriter() {
  if (fd_ >= 0) close(fd_);
}

bool RiffWriter::Append(const iovec* iov, int count, std::uint64_t bytes) {
  const std::int64_t limit = g_fileSizeLimit;
  bool ok;
  if (limit >= 0 && end_ + bytes > static_cast<std::uint64_t>(limit)) {
    errno = ENOSPC;
    ok = false;
  } else {
    ok = WriteFully(fd_, iov, count, end_, bytes);
  }
  if (!ok) {
    const int saved = errno;
    // Whatever part reached the disk is cut off: the file ends after the last whole chunk.
    while (ftruncate(fd_, static_cast<off_t>(end_)) != 0 && errno == EINTR) {
    }
    errno = saved;
    return false;
  }
  end_ += bytes;
  return true;
}

bool RiffWriter::Start(const StreamHeader& header, const void* format, std::uint32_t formatBytes) {
  stream_ = header;
  stream_.dwScale = OrOne(stream_.dwScale);
  stream_.dwRate = OrOne(stream_.dwRate);
  BITMAPINFOHEADER bih{};
  std::memcpy(&bih, format, std::min<std::size_t>(formatBytes, sizeof bih));
  width_ =
      static_cast<std::uint32_t>(bih.biWidth < 0 ? -static_cast<std::int64_t>(bih.biWidth) : bih.biWidth);
  height_ =
      static_cast<std::uint32_t>(bih.biHeight < 0 ? -static_cast<std::int64_t>(bih.biHeight) : bih.biHeight);

  header_.clear();
  Bytes b(header_);
  b.U32(kRiff), b.U32(0), b.U32(mmioFOURCC('A', 'V', 'I', ' '));
  b.U32(kList), b.U32(0), b.U32(mmioFOURCC('h', 'd', 'r', 'l'));
  b.U32(mmioFOURCC('a', 'v', 'i', 'h')), b.U32(56), b.Zeros(56);
  b.U32(kList), b.U32(0), b.U32(mmioFOURCC('s', 't', 'r', 'l'));
  b.U32(mmioFOURCC('s', 't', 'r', 'h')), b.U32(56);
  b.U32(stream_.fccType), b.U32(stream_.fccHandler), b.U32(stream_.dwFlags);
  b.U16(stream_.wPriority), b.U16(stream_.wLanguage);
  b.U32(stream_.dwInitialFrames), b.U32(stream_.dwScale), b.U32(stream_.dwRate);
  b.U32(0), b.U32(0);  // start and length, patched
  b.U32(stream_.dwSuggestedBufferSize), b.U32(stream_.dwQuality), b.U32(stream_.dwSampleSize);
  for (SHORT v : stream_.rcFrame) b.U16(static_cast<std::uint16_t>(v));
  b.U32(mmioFOURCC('s', 't', 'r', 'f')), b.U32(formatBytes), b.Raw(format, formatBytes);
  if (formatBytes & 1) b.U8(0);
  indxOffset_ = b.size();
  b.U32(mmioFOURCC('i', 'n', 'd', 'x')), b.U32(24 + 16 * limits_.superIndexEntries);
  b.U16(4), b.U8(0), b.U8(AVI_INDEX_OF_INDEXES), b.U32(0), b.U32(kDeltaChunk);
  b.Zeros(12 + 16 * std::size_t{limits_.superIndexEntries});
  Put32(&header_[kStrlSize], b.size() - (kStrlSize + 4));
  b.U32(kList), b.U32(4 + 8 + kDmlhBytes), b.U32(mmioFOURCC('o', 'd', 'm', 'l'));
  dmlhOffset_ = b.size();
  b.U32(mmioFOURCC('d', 'm', 'l', 'h')), b.U32(kDmlhBytes), b.Zeros(kDmlhBytes);
  Put32(&header_[kHdrlSize], b.size() - (kHdrlSize + 4));
  const std::uint32_t movi = (b.size() + 8 + kMoviAlign - 1) / kMoviAlign * kMoviAlign;
  const std::uint32_t junk = movi - b.size() - 8;
  b.U32(mmioFOURCC('J', 'U', 'N', 'K')), b.U32(junk), b.Zeros(junk);
  b.U32(kList), b.U32(4), b.U32(mmioFOURCC('m', 'o', 'v', 'i'));

  std::uint8_t* a = &header_[kAvih];
  Put32(a + 8, 0);                                // padding granularity
  Put32(a + 24, 1);                               // streams
  Put32(a + 32, width_), Put32(a + 36, height_);  // frame size

  end_ = 0;
  segment_ = Segment{0, movi, {}};
  const iovec iov{header_.data(), header_.size()};
  if (!Append(&iov, 1, header_.size())) return false;
  segmentOpen_ = started_ = true;
  return RewriteHeaders();
}

void RiffWriter::PatchHeaders() {
  if (segmentOpen_) {
    moviEnd_ = end_;
    if (first()) firstRiffEnd_ = firstMoviEnd_ = end_;
  }
  std::uint8_t* h = header_.data();
  const std::size_t firstMovi = header_.size() - 12;
  Put32(h + kRiffSize, static_cast<std::uint32_t>(firstRiffEnd_ - 8));
  Put32(h + firstMovi + 4, static_cast<std::uint32_t>(firstMoviEnd_ - firstMovi - 8));

  const std::uint32_t firstSamples =
      closedSegments_.empty() ? static_cast<std::uint32_t>(samples_) : closedSegments_.front();
  const std::uint64_t usPerFrame = 1000000ull * stream_.dwScale / stream_.dwRate;
  const std::uint64_t bytesPerSec = std::uint64_t{maxChunk_} * stream_.dwRate / stream_.dwScale;
  std::uint8_t* a = h + kAvih;
  Put32(a + 0, static_cast<std::uint32_t>(std::min<std::uint64_t>(usPerFrame, UINT32_MAX)));
  Put32(a + 4, static_cast<std::uint32_t>(std::min<std::uint64_t>(bytesPerSec, UINT32_MAX)));
  Put32(a + 12, AVIF_ISINTERLEAVED | (firstIndexed_ ? AVIF_HASINDEX | AVIF_TRUSTCKTYPE : 0));
  Put32(a + 16, firstSamples);
  Put32(a + 28, std::max(maxChunk_, stream_.dwSuggestedBufferSize));

  Put32(h + kStrh + 28, static_cast<std::uint32_t>(start_));
  Put32(h + kStrh + 32, static_cast<std::uint32_t>(samples_));

  std::uint8_t* x = h + indxOffset_ + 8;
  Put32(x + 4, static_cast<std::uint32_t>(superIndex_.size()));
  for (std::size_t i = 0; i < superIndex_.size(); ++i) {
    std::uint8_t* e = x + 24 + 16 * i;
    Put64(e, superIndex_[i].offset), Put32(e + 8, superIndex_[i].bytes),
        Put32(e + 12, superIndex_[i].duration);
  }
  Put32(h + dmlhOffset_ + 8, static_cast<std::uint32_t>(samples_));
}

bool RiffWriter::RewriteHeaders() {
  PatchHeaders();
  if (pwrite(fd_, header_.data(), header_.size(), 0) != static_cast<ssize_t>(header_.size())) return false;
  if (first()) return true;
  // The AVIX segment being written, or the one just closed.
  std::uint8_t seg[24];
  Put32(seg, kRiff), Put32(seg + 4, static_cast<std::uint32_t>(moviEnd_ - segment_.riffOffset - 8));
  Put32(seg + 8, mmioFOURCC('A', 'V', 'I', 'X'));
  Put32(seg + 12, kList), Put32(seg + 16, static_cast<std::uint32_t>(moviEnd_ - segment_.moviOffset - 8));
  Put32(seg + 20, mmioFOURCC('m', 'o', 'v', 'i'));
  return pwrite(fd_, seg, sizeof seg, static_cast<off_t>(segment_.riffOffset)) == sizeof seg;
}

std::uint64_t RiffWriter::ClosingBytes(std::size_t entries) const {
  const std::uint64_t n = entries;
  return (n ? kStdIndexHeader + 8 * n : 0) + (first() ? 8 + 16 * n : 0);
}

bool RiffWriter::OpenSegment() {
  std::uint8_t seg[24];
  Put32(seg, kRiff), Put32(seg + 4, 16), Put32(seg + 8, mmioFOURCC('A', 'V', 'I', 'X'));
  Put32(seg + 12, kList), Put32(seg + 16, 4), Put32(seg + 20, mmioFOURCC('m', 'o', 'v', 'i'));
  const std::uint64_t at = end_;
  const iovec iov{seg, sizeof seg};
  if (!Append(&iov, 1, sizeof seg)) return false;
  segment_ = Segment{at, at + 12, {}};
  moviEnd_ = end_;
  segmentOpen_ = true;
  return true;
}

// Writes the segment's ix00 at the end of its movi list (and, for the first, idx1 after the
// list), then the sizes and the super index entry that make them part of the file.
bool RiffWriter::CloseSegment() {
  const std::vector<Entry>& entries = segment_.entries;
  if (entries.empty() && !first()) {
    // An AVIX segment that never got a frame is dropped again.
    end_ = segment_.riffOffset;
    while (ftruncate(fd_, static_cast<off_t>(end_)) != 0 && errno == EINTR) {
    }
    segment_ = Segment{};
    segmentOpen_ = false;
    return true;
  }
  std::vector<std::uint8_t> tail;
  Bytes b(tail);
  const std::uint64_t ixOffset = end_;
  if (!entries.empty()) {
    b.U32(mmioFOURCC('i', 'x', '0', '0')), b.U32(24 + 8 * static_cast<std::uint32_t>(entries.size()));
    b.U16(2), b.U8(0), b.U8(AVI_INDEX_OF_CHUNKS), b.U32(static_cast<std::uint32_t>(entries.size()));
    b.U32(kDeltaChunk), b.U64(segment_.moviOffset), b.U32(0);
    for (const Entry& e : entries) {
      b.U32(static_cast<std::uint32_t>(e.chunkOffset + 8 - segment_.moviOffset));
      b.U32(e.bytes | (e.keyFrame ? 0 : kNotKeyFrameBit));
    }
  }
  const std::uint32_t ixBytes = b.size();
  if (first()) {
    const std::uint64_t moviCode = segment_.moviOffset + 8;
    b.U32(mmioFOURCC('i', 'd', 'x', '1')), b.U32(16 * static_cast<std::uint32_t>(entries.size()));
    for (const Entry& e : entries) {
      b.U32(e.keyFrame ? kKeyChunk : kDeltaChunk), b.U32(e.keyFrame ? AVIIF_KEYFRAME : 0);
      b.U32(static_cast<std::uint32_t>(e.chunkOffset - moviCode)), b.U32(e.bytes);
    }
  }
  const iovec iov{tail.data(), tail.size()};
  if (!Append(&iov, 1, tail.size())) return false;

  moviEnd_ = ixOffset + ixBytes;
  if (first()) {
    firstMoviEnd_ = moviEnd_;
    firstRiffEnd_ = end_;
    firstIndexed_ = true;
  }
  // Past the room kept in the header a segment is left out of the super index; readers still
  // reach it by walking the file.
  if (!entries.empty() && superIndex_.size() < limits_.superIndexEntries)
    superIndex_.push_back({ixOffset, ixBytes, static_cast<std::uint32_t>(entries.size())});
  closedSegments_.push_back(static_cast<std::uint32_t>(entries.size()));
  segmentOpen_ = false;
  return RewriteHeaders();
}

RiffWriter::WriteResult RiffWriter::Write(std::int64_t position, const void* data, std::uint32_t bytes,
                                          bool keyFrame) {
  if (!started_) return WriteResult::kFailed;
  const std::int64_t endSample = haveStart_ ? start_ + samples_ : position;
  if (position < 0 || position - endSample > kMaxGap) return WriteResult::kBadPosition;
  if (!haveStart_) {
    start_ = position;
    haveStart_ = true;
  }
  const std::uint64_t gap = position > endSample ? static_cast<std::uint64_t>(position - endSample) : 0;
  const std::uint64_t frameChunk = 8 + std::uint64_t{bytes} + (bytes & 1);
  const std::uint64_t total = 8 * gap + frameChunk;
  if (!RoomToGrow(total)) {
    errno = ENOSPC;
    return WriteResult::kFailed;
  }

  if (segmentOpen_ && !segment_.entries.empty() &&
      end_ - segment_.riffOffset + total + ClosingBytes(segment_.entries.size() + gap + 1) >
          limits_.segmentBytes) {
    if (!CloseSegment()) return WriteResult::kFailed;
  }
  if (!segmentOpen_ && !OpenSegment()) return WriteResult::kFailed;

  // Empty chunks for the gap, then the frame's chunk, in one write.
  static const std::vector<std::uint8_t> padBlock = [] {
    std::vector<std::uint8_t> v(8 * kPadChunksPerBlock, 0);
    for (std::uint32_t i = 0; i < kPadChunksPerBlock; ++i) Put32(&v[8 * i], kDeltaChunk);
    return v;
  }();
  iov_.clear();
  for (std::uint64_t left = gap; left > 0;) {
    const std::uint64_t n = std::min<std::uint64_t>(left, kPadChunksPerBlock);
    iov_.push_back({const_cast<std::uint8_t*>(padBlock.data()), 8 * n});
    left -= n;
  }
  std::uint8_t chunkHeader[8];
  Put32(chunkHeader, keyFrame ? kKeyChunk : kDeltaChunk), Put32(chunkHeader + 4, bytes);
  std::uint8_t zero = 0;
  iov_.push_back({chunkHeader, 8});
  if (bytes) iov_.push_back({const_cast<void*>(data), bytes});
  if (bytes & 1) iov_.push_back({&zero, 1});

  const std::uint64_t at = end_;
  if (!Append(iov_.data(), static_cast<int>(iov_.size()), total)) return WriteResult::kFailed;
  const std::size_t entriesBefore = segment_.entries.size();
  // A minute of a camera's frames at once rather than a doubling every few frames; past that the
  // index grows by doubling, so its allocations become ever rarer.
  if (segment_.entries.capacity() == 0) segment_.entries.reserve(kIndexEntriesAtOnce);
  for (std::uint64_t i = 0; i < gap; ++i) segment_.entries.push_back({at + 8 * i, 0, false});
  segment_.entries.push_back({at + 8 * gap, bytes, keyFrame});
  const std::uint32_t maxChunkBefore = maxChunk_;
  samples_ += static_cast<std::int64_t>(gap) + 1;
  maxChunk_ = std::max(maxChunk_, bytes);
  if (RewriteHeaders()) return WriteResult::kOk;

  // The headers could not take the frame: take it back out, so that the file stays as it was.
  segment_.entries.resize(entriesBefore);
  samples_ -= static_cast<std::int64_t>(gap) + 1;
  maxChunk_ = maxChunkBefore;
  end_ = at;
  while (ftruncate(fd_, static_cast<off_t>(end_)) != 0 && errno == EINTR) {
  }
  RewriteHeaders();
  return WriteResult::kFailed;
}

bool RiffWriter::Finish() {
  bool ok = true;
  if (started_ && segmentOpen_) ok = CloseSegment();
  if (fd_ >= 0 && close(fd_) != 0) ok = false;
  fd_ = -1;
  return ok;
}

}  // namespace avi
