// Sequences of datagrams through the whole per-datagram processing of a receiving control: the
// recording path with a client's own decoder, the sender's client ID, forwarding, and the display
// path with the display decoder.
//
// Input: one settings byte, then records of [source byte][length, 2 bytes big-endian][datagram].
// The settings byte picks the output size (bits 0-1; the last one is larger than the picture
// buffer), the compress type (bit 2: "H.263") and the shown client (bit 3: client 1). The source
// byte picks the sender: an outsider, client 1 (recording) or client 2 (not recording, relayed
// to client 3). Every effect checks all the bytes it was given, so that the sanitizer sees any
// read past a buffer.
//
// QV_FUZZ_WRITE_SEEDS=dir writes seed inputs made from a real stream into dir and exits.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <sanitizer/asan_interface.h>

#include "codec/frame_decoder.h"
#include "fuzz/seeds.h"
#include "codec/xvid21.h"
#include "net/receive_datagram.h"
#include "tests/support/test_stream.h"

namespace {

volatile std::uint8_t g_sink;

constexpr int kSizes[4][2] = {{176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
constexpr ULONG kAddresses[3] = {0x0A000009, 0x0A000001, 0x0A000002};
constexpr USHORT kPort = 4000;

// Reads the bytes an effect was given as the sanitizer sees them: any of them outside a live block
// is reported where it lies. Checking the shadow of the range at once costs a fraction of reading
// every byte, which for a drawn 4CIF picture was most of an input's time.
void Touch(const std::uint8_t* data, std::size_t length) {
  if (length == 0) return;
  if (const void* bad = __asan_region_is_poisoned(const_cast<std::uint8_t*>(data), length)) {
    g_sink = *static_cast<const volatile std::uint8_t*>(bad);
  }
}

struct Effects : ReceiveEffects {
  const std::uint8_t* picture = nullptr;
  std::size_t pictureBytes = 0;
  void Forward(const ClientRecord&, const std::uint8_t* data, std::size_t length) override {
    Touch(data, length);
  }
  bool WriteRecordedFrame(ClientRecord&, LONG, const std::uint8_t* bits, std::size_t bytes, bool) override {
    Touch(bits, bytes);
    return true;
  }
  void DrawPicture(std::uint16_t) override { Touch(picture, pictureBytes); }
};

// A decoder for one output size, made once: making one costs more than most inputs (the library
// clears its pictures and fills its tables). Before each input it decodes the same key frame, which
// sets everything an earlier input's stream headers may have changed, so that an input found to
// fail fails again alone.
struct Decoder {
  xvid21::XVID_DEC_PARAM param{};
  std::vector<std::uint8_t> keyFrame;
  std::vector<std::uint8_t> scratch;
  int width = 0;

  void Make(int w, int h) {
    width = w;
    if (codec::CreateDecoder(&param, w, h) != xvid21::XVID_ERR_OK) std::abort();
    keyFrame = test_stream::EncodeStream(w, h, 1).at(0).bytes;
    scratch.resize(PictureBytes(w, h));
    Reset();
  }
  void Reset() {
    xvid21::XVID_DEC_FRAME frame{};
    if (codec::DecodeFrame(param, &frame, keyFrame.data(), static_cast<int>(keyFrame.size()), scratch.data(),
                           static_cast<int>(scratch.size()), width) != 0) {
      std::abort();
    }
  }
};

struct Fixture {
  ClientTable clients;
  std::unique_ptr<std::uint8_t[]> displayRoom =
      std::make_unique<std::uint8_t[]>(kFramesInFlight * kFrameSlotBytes);
  std::unique_ptr<std::uint8_t[]> picture = std::make_unique<std::uint8_t[]>(kPictureBufferSize);
  std::unique_ptr<std::uint8_t[]> recordPicture = std::make_unique<std::uint8_t[]>(kPictureBufferSize);
  DisplayReceiver display;
  KeyFrameRequester requests;
  StrangerSource stranger;
  int stream = 0;
  int file = 0;
  // Per output size: the display's decoder and the recording client's.
  Decoder displayDecoders[4];
  Decoder recordDecoders[4];

  Fixture() {
    xvid21::XVID_INIT_PARAM init{};
    if (xvid21::xvid_init(nullptr, 0, &init, nullptr) != xvid21::XVID_ERR_OK) std::abort();
    display.frames.Attach(displayRoom.get());
    for (int i = 0; i < 4; ++i) {
      displayDecoders[i].Make(DecoderWidth(i), DecoderHeight(i));
      recordDecoders[i].Make(DecoderWidth(i), DecoderHeight(i));
    }
  }
  // The largest output size is beyond the picture buffer: its decoders are QCIF.
  static int DecoderWidth(int size) { return kSizes[size][0] <= 704 ? kSizes[size][0] : 176; }
  static int DecoderHeight(int size) { return kSizes[size][0] <= 704 ? kSizes[size][1] : 144; }
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

void WriteSeeds(const std::string& dir) {
  const auto stream = test_stream::EncodeStream(176, 144, 6, 250000, 3);
  for (int variant = 0; variant < 4; ++variant) {
    std::vector<std::uint8_t> input = {static_cast<std::uint8_t>(variant == 3   ? 0x08
                                                                 : variant == 2 ? 0x04
                                                                                : 0)};
    for (std::size_t i = 0; i < stream.size(); ++i) {
      for (const auto& d :
           test_stream::Datagrams(stream[i], static_cast<std::uint16_t>(i + 1), variant ? "ab" : "")) {
        input.push_back(static_cast<std::uint8_t>(variant == 1 ? 1 : 0));
        input.push_back(static_cast<std::uint8_t>(d.size() >> 8));
        input.push_back(static_cast<std::uint8_t>(d.size()));
        input.insert(input.end(), d.begin(), d.end());
      }
    }
    fuzz_seeds::Write(dir, "seed" + std::to_string(variant), std::string(input.begin(), input.end()));
  }
  // Three of the largest datagrams of one frame: more than a frame may hold.
  std::vector<std::uint8_t> big = {0};
  for (int i = 0; i < 3; ++i) {
    std::vector<std::uint8_t> d(65507, static_cast<std::uint8_t>(i));
    const std::uint8_t header[12] = {0x80, 0xA1, 0, 7, 0, 0, 0, 0, 0, 3, 0, 0};
    std::copy(header, header + 12, d.begin());
    big.insert(big.end(), {0, static_cast<std::uint8_t>(d.size() >> 8), static_cast<std::uint8_t>(d.size())});
    big.insert(big.end(), d.begin(), d.end());
  }
  fuzz_seeds::Write(dir, "seed_large", std::string(big.begin(), big.end()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_seeds::WriteIfAsked(WriteSeeds);
  TheFixture();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Fixture& f = TheFixture();
  const std::uint8_t settings = data[0];
  const int sizeIndex = settings & 3;
  const int width = kSizes[sizeIndex][0];
  const int height = kSizes[sizeIndex][1];

  // Client 1 records from 10.0.0.1, client 2 is 10.0.0.2 and is relayed to client 3; outsiders
  // are relayed to client 2.
  for (int id = 1; id <= 3; ++id) {
    f.clients.Occupy(id, id == 1 ? "10.0.0.1" : id == 2 ? "10.0.0.2" : "10.0.0.3", kPort, "peer");
  }
  f.clients.Forward(2, 3);
  f.clients.Forward(0, 2);
  ClientRecord& recorder = f.clients[1];
  recorder.pAviFile = reinterpret_cast<PAVIFILE>(&f.file);
  recorder.pAviStream = reinterpret_cast<PAVISTREAM>(&f.stream);
  Decoder& recordDecoder = f.recordDecoders[sizeIndex];
  Decoder& displayDecoder = f.displayDecoders[sizeIndex];
  recordDecoder.Reset();
  displayDecoder.Reset();
  recorder.xvidDecParam = recordDecoder.param;
  if (!recorder.recording.Attached()) f.clients.GiveRecordingRoom(1, width, height);
  recorder.nRecordWidth = width;
  recorder.nRecordHeight = height;
  recorder.recording.Reset();
  recorder.recordPacer.Reset();
  recorder.bRecordingStopped = FALSE;
  f.display.Reset();
  f.requests.Clear();
  f.stranger = StrangerSource{};

  xvid21::XVID_DEC_FRAME decFrame{};

  ReceiveState state;
  state.pClients = &f.clients;
  state.pDisplay = &f.display;
  state.pDisplayDecoder = &displayDecoder.param;
  state.pDisplayFrame = &decFrame;
  state.pPicture = f.picture.get();
  state.pRecordPicture = f.recordPicture.get();
  state.pRequests = &f.requests;
  state.pStranger = &f.stranger;
  state.nOutWidth = width;
  state.nOutHeight = height;
  state.nShowClient = (settings & 8) ? 1 : 0;
  state.bWholeDatagramFrames = (settings & 4) != 0;
  Effects effects;
  effects.picture = f.picture.get();
  effects.pictureBytes = PictureBytes(width, height);

  // Each datagram gets a buffer of exactly its length, so that any read past it is caught.
  std::size_t at = 1;
  while (at + 3 <= size) {
    const int source = data[at] % 3;
    std::size_t length = (static_cast<std::size_t>(data[at + 1]) << 8) | data[at + 2];
    at += 3;
    if (length > size - at) length = size - at;
    if (length == 0) continue;
    const std::vector<std::uint8_t> datagram(data + at, data + at + length);
    at += length;
    ProcessDatagram(state, datagram.data(), datagram.size(), kAddresses[source], kPort, effects);
    f.requests.SendDue(state.nowMs, [](ULONG, USHORT) {});
    state.nowMs += 5;
  }

  recorder.xvidDecParam = xvid21::XVID_DEC_PARAM{};
  for (int id = 2; id <= 3; ++id) f.clients.Vacate(id);
  recorder.bInUse = FALSE;
  recorder.pAviFile = nullptr;
  recorder.pAviStream = nullptr;
  return 0;
}
