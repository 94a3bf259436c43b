#include "gst/quelvora_sink.h"

#include <gst/video/video-event.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gst/figure_property.h"
#include "gst/user_name.h"
#include "gst/vol_size.h"
#include "gst/wire_socket.h"
#include "net/compress_type.h"
#include "net/frame_assembler.h"
#include "net/header_counters.h"
#include "net/key_frame_requests.h"
#include "net/send_settings.h"
#include "net/video_packet.h"

GST_DEBUG_CATEGORY_STATIC(quelvora_sink_debug);
#define GST_CAT_DEFAULT quelvora_sink_debug

namespace {

constexpr const char* kDefaultHost = "127.0.0.1";
constexpr int kDefaultPort = 17010;
constexpr const char* kDefaultBindAddress = "0.0.0.0";
// The receive timer of a control ticks every 30 ms and sends a keep-alive every tenth tick; the
// sink reads key-frame requests on the same tick.
constexpr gint64 kTickUs = 30 * 1000;
constexpr std::uint32_t kKeepAliveMs = 10 * 30;
// Reads of a key-frame request: anything longer than one is not one.
constexpr gsize kRequestReadBytes = kKeyFrameRequestSize + 4;

enum Property : guint {
  kPropHost = 1,
  kPropPort,
  kPropBindAddress,
  kPropBindPort,
  kPropUserName,
  kPropSeqnumOffset,
  kPropTimestampOffset,
  kPropSourceId,
  kPropFrames,
  kPropDatagrams,
  kPropKeyFramesRequested,
  kPropCount
};
GParamSpec* g_properties[kPropCount];

GstStaticPadTemplate g_sinkTemplate =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/mpeg, mpegversion=(int)4, systemstream=(boolean)false"));

// Everything of the element but its GObject part.
struct SinkState {
  // Properties, under the object lock.
  std::string host = kDefaultHost;
  int port = kDefaultPort;
  std::string bindAddress = kDefaultBindAddress;
  int bindPort = 0;
  std::string userName;  // UTF-8, as set
  std::string wireName;  // the same in the control's code page
  int seqnumOffset = -1;
  gint64 timestampOffset = -1;
  gint64 sourceId = -1;

  // Between start and stop.
  GSocket* socket = nullptr;
  GSocketAddress* destination = nullptr;
  WireAddress destinationWire;
  HeaderCounters counters;
  unsigned timestampStep = 0;  // per frame at a whole frame rate; 0: from the buffers' times
  GstClockTime lastPts = GST_CLOCK_TIME_NONE;
  GstBuffer* codecData = nullptr;
  std::vector<std::uint8_t> withHeaders;
  bool bSendFailing = false;
  bool bWarnedTooLarge = false;

  // The frames' thread sends on the socket while the tick sends keep-alives and reads requests;
  // GSocket leaves locking to its users.
  std::mutex socketLock;
  std::mutex answerLock;
  KeyFrameAnswerer answerer;
  std::thread ticker;
  GCancellable* cancellable = nullptr;

  std::atomic<std::uint64_t> frames{0};
  std::atomic<std::uint64_t> datagrams{0};
  std::atomic<std::uint64_t> keyFramesRequested{0};

  ~SinkState() {
    g_clear_object(&socket);
    g_clear_object(&destination);
    g_clear_object(&cancellable);
    gst_clear_buffer(&codecData);
  }
};

std::uint32_t NowMs() { return static_cast<std::uint32_t>(g_get_monotonic_time() / 1000); }

}  // namespace

struct _GstQuelvoraSink {
  GstBaseSink parent;
  SinkState* state;
};

namespace {

SinkState& StateOf(gpointer object) { return *GST_QUELVORA_SINK(object)->state; }

}  // namespace

G_DEFINE_TYPE(GstQuelvoraSink, gst_quelvora_sink, GST_TYPE_BASE_SINK)

namespace {

std::string StringOr(const GValue* value, const char* fallback) {
  const char* text = g_value_get_string(value);
  return text != nullptr ? text : fallback;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  SinkState& state = StateOf(object);
  GST_OBJECT_LOCK(object);
  switch (id) {
    case kPropHost:
      state.host = StringOr(value, kDefaultHost);
      break;
    case kPropPort:
      state.port = g_value_get_int(value);
      break;
    case kPropBindAddress:
      state.bindAddress = StringOr(value, kDefaultBindAddress);
      break;
    case kPropBindPort:
      state.bindPort = g_value_get_int(value);
      break;
    case kPropUserName:
      state.userName = StringOr(value, "");
      state.wireName = UserNameFromUtf8(state.userName.c_str());
      break;
    case kPropSeqnumOffset:
      state.seqnumOffset = g_value_get_int(value);
      break;
    case kPropTimestampOffset:
      state.timestampOffset = g_value_get_int64(value);
      break;
    case kPropSourceId:
      state.sourceId = g_value_get_int64(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
  GST_OBJECT_UNLOCK(object);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  SinkState& state = StateOf(object);
  GST_OBJECT_LOCK(object);
  switch (id) {
    case kPropHost:
      g_value_set_string(value, state.host.c_str());
      break;
    case kPropPort:
      g_value_set_int(value, state.port);
      break;
    case kPropBindAddress:
      g_value_set_string(value, state.bindAddress.c_str());
      break;
    case kPropBindPort:
      g_value_set_int(value, state.bindPort);
      break;
    case kPropUserName:
      g_value_set_string(value, state.userName.c_str());
      break;
    case kPropSeqnumOffset:
      g_value_set_int(value, state.seqnumOffset);
      break;
    case kPropTimestampOffset:
      g_value_set_int64(value, state.timestampOffset);
      break;
    case kPropSourceId:
      g_value_set_int64(value, state.sourceId);
      break;
    case kPropFrames:
      g_value_set_uint64(value, state.frames.load());
      break;
    case kPropDatagrams:
      g_value_set_uint64(value, state.datagrams.load());
      break;
    case kPropKeyFramesRequested:
      g_value_set_uint64(value, state.keyFramesRequested.load());
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
  GST_OBJECT_UNLOCK(object);
}

void Finalize(GObject* object) {
  delete GST_QUELVORA_SINK(object)->state;
  G_OBJECT_CLASS(gst_quelvora_sink_parent_class)->finalize(object);
}

std::string WireNameOf(GstBaseSink* sink) {
  GST_OBJECT_LOCK(sink);
  std::string name = StateOf(sink).wireName;
  GST_OBJECT_UNLOCK(sink);
  return name;
}

bool SendDatagram(SinkState& state, const std::uint8_t* data, std::size_t length) {
  std::lock_guard lock(state.socketLock);
  const gssize sent = g_socket_send_to(state.socket, state.destination, reinterpret_cast<const gchar*>(data),
                                       length, nullptr, nullptr);
  if (sent != static_cast<gssize>(length)) return false;
  ++state.datagrams;
  return true;
}

// Requests from the destination (from anyone, for a group) that arrived since the last tick.
void ReadRequests(GstBaseSink* sink, SinkState& state) {
  std::uint8_t datagram[kRequestReadBytes];
  for (;;) {
    GSocketAddress* from = nullptr;
    gssize length;
    {
      std::lock_guard lock(state.socketLock);
      length = g_socket_receive_from(state.socket, &from, reinterpret_cast<gchar*>(datagram), sizeof datagram,
                                     nullptr, nullptr);
    }
    if (length < 0) return;  // nothing more (or an error the next send reports)
    WireAddress source;
    if (from != nullptr && WireAddressOf(from, &source) &&
        IsKeyFrameRequest(datagram, static_cast<std::size_t>(length)) &&
        AnswersRequestFrom(g_htonl(state.destinationWire.address), g_htons(state.destinationWire.port),
                           g_htonl(source.address), g_htons(source.port))) {
      GST_DEBUG_OBJECT(sink, "key-frame request from %s", WireAddressText(source).c_str());
      std::lock_guard lock(state.answerLock);
      state.answerer.Request();
    }
    g_clear_object(&from);
  }
}

// The sink's own tick, as a control's receive timer: key-frame requests become a force-key-unit
// event upstream (one per half second at most), and keep-alives go out every tenth tick.
void Tick(GstBaseSink* sink) {
  SinkState& state = StateOf(sink);
  std::uint32_t nextKeepAliveMs = NowMs();
  unsigned eventCount = 0;
  for (;;) {
    GError* error = nullptr;
    g_socket_condition_timed_wait(state.socket, G_IO_IN, kTickUs, state.cancellable, &error);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
      g_clear_error(&error);
      return;
    }
    g_clear_error(&error);
    ReadRequests(sink, state);
    const std::uint32_t now = NowMs();
    bool due = false;
    {
      std::lock_guard lock(state.answerLock);
      due = state.answerer.TakeDue(now);
    }
    if (due) {
      ++state.keyFramesRequested;
      GST_DEBUG_OBJECT(sink, "asking upstream for a key frame");
      gst_pad_push_event(GST_BASE_SINK_PAD(sink), gst_video_event_new_upstream_force_key_unit(
                                                      GST_CLOCK_TIME_NONE, TRUE, ++eventCount));
    }
    if (TimeReached(now, nextKeepAliveMs)) {
      std::uint8_t packet[kVideoHeaderSizeWithName];
      const std::string name = WireNameOf(sink);
      const std::size_t length =
          WriteKeepAlivePacket(packet, kCompressTypeMpeg4, state.counters.Load(), name.c_str());
      SendDatagram(state, packet, length);
      nextKeepAliveMs = TimeReached(now, nextKeepAliveMs + kKeepAliveMs) ? now + kKeepAliveMs
                                                                         : nextKeepAliveMs + kKeepAliveMs;
    }
  }
}

// -1 draws the value at random, as a control draws its counters.
std::uint32_t ChosenOrRandom(gint64 value, std::uint32_t mask) {
  return value >= 0 ? static_cast<std::uint32_t>(value) & mask : g_random_int() & mask;
}

gboolean Start(GstBaseSink* sink) {
  SinkState& state = StateOf(sink);
  GST_OBJECT_LOCK(sink);
  const std::string host = state.host;
  const int port = state.port;
  const std::string bindAddress = state.bindAddress;
  const int bindPort = state.bindPort;
  const gint64 seqnumOffset = state.seqnumOffset;
  const gint64 timestampOffset = state.timestampOffset;
  const gint64 sourceId = state.sourceId;
  GST_OBJECT_UNLOCK(sink);

  GError* error = nullptr;
  GInetAddress* destination = ResolveIpv4(host.c_str(), &error);
  if (destination == nullptr) {
    GST_ELEMENT_ERROR(sink, RESOURCE, NOT_FOUND, ("Could not resolve %s", host.c_str()),
                      ("%s", error->message));
    g_clear_error(&error);
    return FALSE;
  }
  state.destination = g_inet_socket_address_new(destination, static_cast<guint16>(port));
  g_object_unref(destination);
  WireAddressOf(state.destination, &state.destinationWire);

  state.socket = OpenWireSocket(bindAddress.c_str(), bindPort, &error);
  if (state.socket == nullptr) {
    GST_ELEMENT_ERROR(sink, RESOURCE, OPEN_WRITE,
                      ("Could not send from %s:%d", bindAddress.c_str(), bindPort), ("%s", error->message));
    g_clear_error(&error);
    g_clear_object(&state.destination);
    return FALSE;
  }
  if (bindPort == 0) {
    GST_OBJECT_LOCK(sink);
    state.bindPort = BoundPort(state.socket);
    GST_OBJECT_UNLOCK(sink);
    g_object_notify_by_pspec(G_OBJECT(sink), g_properties[kPropBindPort]);
  }

  state.counters.Seed(static_cast<std::uint16_t>(ChosenOrRandom(seqnumOffset, 0xFFFF)),
                      ChosenOrRandom(timestampOffset, 0xFFFFFFFF), ChosenOrRandom(sourceId, 0xFFFFFFFF));
  state.lastPts = GST_CLOCK_TIME_NONE;
  state.bSendFailing = false;
  state.answerer = KeyFrameAnswerer{};
  state.cancellable = g_cancellable_new();
  state.ticker = std::thread(Tick, sink);
  return TRUE;
}

gboolean Stop(GstBaseSink* sink) {
  SinkState& state = StateOf(sink);
  if (state.ticker.joinable()) {
    g_cancellable_cancel(state.cancellable);
    state.ticker.join();
  }
  g_clear_object(&state.cancellable);
  g_clear_object(&state.socket);
  g_clear_object(&state.destination);
  gst_clear_buffer(&state.codecData);
  return TRUE;
}

gboolean SetCaps(GstBaseSink* sink, GstCaps* caps) {
  SinkState& state = StateOf(sink);
  const GstStructure* structure = gst_caps_get_structure(caps, 0);
  // At a whole frame rate the timestamp advances as a control's does at that send rate.
  int numerator = 0;
  int denominator = 0;
  state.timestampStep = 0;
  if (gst_structure_get_fraction(structure, "framerate", &numerator, &denominator) && denominator == 1 &&
      numerator >= 1 && numerator <= 1000)
    state.timestampStep = TimestampStep(numerator);
  gst_clear_buffer(&state.codecData);
  if (const GValue* value = gst_structure_get_value(structure, "codec_data");
      value != nullptr && G_VALUE_HOLDS(value, GST_TYPE_BUFFER))
    state.codecData = gst_buffer_ref(gst_value_get_buffer(value));
  return TRUE;
}

// A key frame as receivers need it: with the stream's headers, which an encoder that gives them in
// the caps leaves out of the frames.
const std::uint8_t* WithHeaders(SinkState& state, const GstMapInfo& map, std::size_t* length) {
  *length = map.size;
  if (state.codecData == nullptr || HasVolHeader(map.data, map.size)) return map.data;
  GstMapInfo headers;
  if (!gst_buffer_map(state.codecData, &headers, GST_MAP_READ)) return map.data;
  state.withHeaders.assign(headers.data, headers.data + headers.size);
  state.withHeaders.insert(state.withHeaders.end(), map.data, map.data + map.size);
  gst_buffer_unmap(state.codecData, &headers);
  *length = state.withHeaders.size();
  return state.withHeaders.data();
}

// Buffers' times as timestamp units (8 a millisecond), for a stream without a whole frame rate.
void AdvanceByTime(SinkState& state, GstClockTime pts) {
  if (!GST_CLOCK_TIME_IS_VALID(pts)) return;
  if (GST_CLOCK_TIME_IS_VALID(state.lastPts) && pts > state.lastPts)
    state.counters.AdvanceTimestamp(static_cast<std::uint32_t>((pts - state.lastPts) / 125000));
  state.lastPts = pts;
}

GstFlowReturn Render(GstBaseSink* sink, GstBuffer* buffer) {
  SinkState& state = StateOf(sink);
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_FLOW_ERROR;
  const bool keyFrame = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
  std::size_t length = 0;
  const std::uint8_t* frame = keyFrame ? WithHeaders(state, map, &length) : map.data;
  if (!keyFrame) length = map.size;
  if (keyFrame) {
    // A key frame made anyway answers the requests that wait.
    std::lock_guard lock(state.answerLock);
    state.answerer.KeyFrameSent();
  }
  if (state.timestampStep == 0) AdvanceByTime(state, GST_BUFFER_PTS(buffer));

  const PacketFields fields = state.counters.Load();
  state.counters.NextSequence();
  if (length > kFrameSlotBytes) {
    // No receiver holds it: its number stays unused, so that receivers see the frame lost.
    if (!state.bWarnedTooLarge)
      GST_ELEMENT_WARNING(sink, STREAM, TOO_LAZY, ("A frame of %zu bytes is too large to send", length),
                          ("receivers take frames of at most %zu bytes", kFrameSlotBytes));
    state.bWarnedTooLarge = true;
  } else {
    std::uint8_t header[kVideoHeaderSizeWithName];
    const std::string name = WireNameOf(sink);
    const std::size_t headerLength = WriteFragmentHeader(header, keyFrame, fields.sequence, fields.timestamp,
                                                         static_cast<std::uint32_t>(length), name.c_str());
    const std::size_t sent = SendFrameFragments(
        header, headerLength, frame, length,
        [&state](const std::uint8_t* data, std::size_t n) { return SendDatagram(state, data, n); });
    if (sent == (length + kMaxFragmentPayload - 1) / kMaxFragmentPayload) {
      ++state.frames;
      state.bSendFailing = false;
    } else if (!state.bSendFailing) {
      // The rest of the frame is not sent; one warning until a frame goes out whole again.
      GST_ELEMENT_WARNING(sink, RESOURCE, WRITE, ("Could not send a frame"),
                          ("%zu of its datagrams sent", sent));
      state.bSendFailing = true;
    }
  }
  if (state.timestampStep != 0) state.counters.AdvanceTimestamp(state.timestampStep);
  gst_buffer_unmap(buffer, &map);
  return GST_FLOW_OK;
}

// Every frame is sent, whatever its time: the segment's bounds are dropped, as the encoders' times
// cannot be trusted (avenc_mpeg4 of GStreamer 1.22 stamps every frame 2^63 ns, past the end of the
// segment of a file, where the base class would drop every frame).
gboolean Event(GstBaseSink* sink, GstEvent* event) {
  if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
    const GstSegment* given = nullptr;
    gst_event_parse_segment(event, &given);
    GstSegment open;
    gst_segment_init(&open, given->format);
    GstEvent* unbounded = gst_event_new_segment(&open);
    gst_event_set_seqnum(unbounded, gst_event_get_seqnum(event));
    gst_event_unref(event);
    event = unbounded;
  }
  return GST_BASE_SINK_CLASS(gst_quelvora_sink_parent_class)->event(sink, event);
}

}  // namespace

static void gst_quelvora_sink_class_init(GstQuelvoraSinkClass* klass) {
  auto* object = G_OBJECT_CLASS(klass);
  object->set_property = SetProperty;
  object->get_property = GetProperty;
  object->finalize = Finalize;

  const auto readWrite = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  g_properties[kPropHost] = g_param_spec_string("host", "Host", "Address (or a multicast group) to send to",
                                                kDefaultHost, readWrite);
  g_properties[kPropPort] =
      g_param_spec_int("port", "Port", "Port to send to", 1, 65535, kDefaultPort, readWrite);
  g_properties[kPropBindAddress] = g_param_spec_string(
      "bind-address", "Bind address", "Local address to send from", kDefaultBindAddress, readWrite);
  g_properties[kPropBindPort] = g_param_spec_int(
      "bind-port", "Bind port",
      "Local port to send from, where receivers' key-frame requests arrive (0: any)", 0, 65535, 0, readWrite);
  g_properties[kPropUserName] = g_param_spec_string(
      "user-name", "User name", "Name carried in every datagram (its first 16 bytes)", "", readWrite);
  g_properties[kPropSeqnumOffset] =
      g_param_spec_int("seqnum-offset", "Sequence number offset",
                       "Sequence number of the first frame (-1: random)", -1, 65535, -1, readWrite);
  g_properties[kPropTimestampOffset] =
      g_param_spec_int64("timestamp-offset", "Timestamp offset", "Timestamp of the first frame (-1: random)",
                         -1, G_MAXUINT32, -1, readWrite);
  g_properties[kPropSourceId] = g_param_spec_int64("source-id", "Source identifier",
                                                   "Identifier in the keep-alive datagrams (-1: random)", -1,
                                                   G_MAXUINT32, -1, readWrite);
  g_properties[kPropFrames] = FigureProperty("frames", "Frames", "Frames sent whole");
  g_properties[kPropDatagrams] =
      FigureProperty("datagrams", "Datagrams", "Datagrams sent, keep-alives included");
  g_properties[kPropKeyFramesRequested] = FigureProperty(
      "key-frames-requested", "Key frames requested", "Key frames asked of upstream for receivers' requests");
  g_object_class_install_properties(object, kPropCount, g_properties);

  auto* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &g_sinkTemplate);
  gst_element_class_set_static_metadata(
      element, "Quelvora video sink", "Sink/Network",
      "Sends MPEG-4 frames as Quelvora datagrams, as a sending control does", "Quelvora developers");

  auto* base = GST_BASE_SINK_CLASS(klass);
  base->start = Start;
  base->stop = Stop;
  base->set_caps = SetCaps;
  base->render = Render;
  base->event = Event;

  GST_DEBUG_CATEGORY_INIT(quelvora_sink_debug, "quelvorasink", 0, "Quelvora video sink");
}

static void gst_quelvora_sink_init(GstQuelvoraSink* self) {
  self->state = new SinkState;
  // Frames go out as they come, as a control sends each frame as soon as it is encoded: the pace is
  // the source's (a camera, a live test source, or clocksync before the encoder). The encoders'
  // times cannot be waited on either: avenc_mpeg4 of GStreamer 1.22 stamps every frame alike.
  gst_base_sink_set_sync(GST_BASE_SINK(self), FALSE);
}
