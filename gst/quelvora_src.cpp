#include "gst/quelvora_src.h"

#include <deque>
#include <memory>
#include <string>

#include "gst/figure_property.h"
#include "gst/frame_timeline.h"
#include "gst/received_stream.h"
#include "gst/user_name.h"
#include "gst/vol_size.h"
#include "gst/wire_socket.h"

GST_DEBUG_CATEGORY_STATIC(quelvora_src_debug);
#define GST_CAT_DEFAULT quelvora_src_debug

namespace {

constexpr const char* kDefaultAddress = "0.0.0.0";
constexpr int kDefaultPort = 17010;
// Larger than any UDP datagram, so that every one is read whole.
constexpr gsize kDatagramBytes = 65536;
// What sinks that wait on the clock give a frame after its time: the lateness FrameTimeline
// allows, and decoding.
constexpr GstClockTime kLatency = 100 * GST_MSECOND;

enum Property : guint {
  kPropAddress = 1,
  kPropPort,
  kPropSender,
  kPropUserName,
  kPropFrames,
  kPropLosses,
  kPropDatagrams,
  kPropRequests,
  kPropCount
};
GParamSpec* g_properties[kPropCount];

GstStaticPadTemplate g_srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/mpeg, mpegversion=(int)4, systemstream=(boolean)false"));

// Everything of the element but its GObject part.
struct SrcState {
  // Properties, under the object lock.
  std::string address = kDefaultAddress;
  int port = kDefaultPort;
  std::string sender;

  ReceivedStream stream{g_random_int()};
  // The streaming thread's, between start and stop.
  FrameTimeline timeline;
  GSocket* socket = nullptr;
  GCancellable* cancellable = g_cancellable_new();
  std::unique_ptr<guint8[]> datagram{new guint8[kDatagramBytes]};
  std::deque<GstBuffer*> ready;  // frames completed, not yet pushed
  bool bHaveCaps = false;
  PictureSize size;
  bool bDiscont = true;

  ~SrcState() {
    for (GstBuffer* buffer : ready) gst_buffer_unref(buffer);
    g_clear_object(&socket);
    g_clear_object(&cancellable);
  }
};

std::uint32_t NowMs() { return static_cast<std::uint32_t>(g_get_monotonic_time() / 1000); }

GstClockTime RunningTimeNow(GstElement* element) {
  GstClock* clock = gst_element_get_clock(element);
  if (clock == nullptr) return 0;
  const GstClockTime now = gst_clock_get_time(clock);
  gst_object_unref(clock);
  const GstClockTime base = gst_element_get_base_time(element);
  return now > base ? now - base : 0;
}

}  // namespace

struct _GstQuelvoraSrc {
  GstPushSrc parent;
  SrcState* state;
};

namespace {

SrcState& StateOf(gpointer object) { return *GST_QUELVORA_SRC(object)->state; }

}  // namespace

G_DEFINE_TYPE(GstQuelvoraSrc, gst_quelvora_src, GST_TYPE_PUSH_SRC)

namespace {

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  SrcState& state = StateOf(object);
  GST_OBJECT_LOCK(object);
  switch (id) {
    case kPropAddress: {
      const char* text = g_value_get_string(value);
      state.address = text != nullptr ? text : kDefaultAddress;
      break;
    }
    case kPropPort:
      state.port = g_value_get_int(value);
      break;
    case kPropSender: {
      const char* text = g_value_get_string(value);
      WireAddress sender;
      if (text == nullptr || text[0] == '\0') {
        state.sender.clear();
        state.stream.ChooseSender(std::nullopt);
      } else if (ParseWireAddress(text, &sender)) {
        state.sender = text;
        state.stream.ChooseSender(sender);
      } else {
        g_warning("quelvorasrc: sender \"%s\" is not ADDRESS:PORT", text);
      }
      break;
    }
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
  GST_OBJECT_UNLOCK(object);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  SrcState& state = StateOf(object);
  switch (id) {
    case kPropAddress:
      GST_OBJECT_LOCK(object);
      g_value_set_string(value, state.address.c_str());
      GST_OBJECT_UNLOCK(object);
      break;
    case kPropPort:
      GST_OBJECT_LOCK(object);
      g_value_set_int(value, state.port);
      GST_OBJECT_UNLOCK(object);
      break;
    case kPropSender:
      GST_OBJECT_LOCK(object);
      g_value_set_string(value, state.sender.c_str());
      GST_OBJECT_UNLOCK(object);
      break;
    case kPropUserName:
      g_value_set_string(value, UserNameToUtf8(state.stream.UserName()).c_str());
      break;
    case kPropFrames:
      g_value_set_uint64(value, state.stream.Frames());
      break;
    case kPropLosses:
      g_value_set_uint64(value, state.stream.Losses());
      break;
    case kPropDatagrams:
      g_value_set_uint64(value, state.stream.Datagrams());
      break;
    case kPropRequests:
      g_value_set_uint64(value, state.stream.Requests());
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

void Finalize(GObject* object) {
  delete GST_QUELVORA_SRC(object)->state;
  G_OBJECT_CLASS(gst_quelvora_src_parent_class)->finalize(object);
}

gboolean Start(GstBaseSrc* base) {
  SrcState& state = StateOf(base);
  GST_OBJECT_LOCK(base);
  const std::string address = state.address;
  const int port = state.port;
  GST_OBJECT_UNLOCK(base);

  GError* error = nullptr;
  state.socket = OpenWireSocket(address.c_str(), port, &error);
  if (state.socket == nullptr) {
    GST_ELEMENT_ERROR(base, RESOURCE, OPEN_READ, ("Could not receive on %s:%d", address.c_str(), port),
                      ("%s", error->message));
    g_clear_error(&error);
    return FALSE;
  }
  if (port == 0) {
    // Port 0 takes one the system chose: read it back, as udpsrc does.
    GST_OBJECT_LOCK(base);
    state.port = BoundPort(state.socket);
    GST_OBJECT_UNLOCK(base);
    g_object_notify_by_pspec(G_OBJECT(base), g_properties[kPropPort]);
  }
  state.stream.Restart();
  state.timeline.Reset();
  state.bHaveCaps = false;
  state.bDiscont = true;
  return TRUE;
}

gboolean Stop(GstBaseSrc* base) {
  SrcState& state = StateOf(base);
  for (GstBuffer* buffer : state.ready) gst_buffer_unref(buffer);
  state.ready.clear();
  g_clear_object(&state.socket);
  return TRUE;
}

// A cancelled wait is a flush, not an error.
gboolean Unlock(GstBaseSrc* base) {
  g_cancellable_cancel(StateOf(base).cancellable);
  return TRUE;
}

gboolean UnlockStop(GstBaseSrc* base) {
  SrcState& state = StateOf(base);
  g_object_unref(state.cancellable);
  state.cancellable = g_cancellable_new();
  return TRUE;
}

gboolean Query(GstBaseSrc* base, GstQuery* query) {
  if (GST_QUERY_TYPE(query) != GST_QUERY_LATENCY)
    return GST_BASE_SRC_CLASS(gst_quelvora_src_parent_class)->query(base, query);
  gst_query_set_latency(query, TRUE, kLatency, GST_CLOCK_TIME_NONE);
  return TRUE;
}

// The caps of the stream, from the size a key frame announces (the first frame pushed is one).
void UpdateCaps(GstBaseSrc* base, SrcState& state, const AssembledFrame& frame) {
  PictureSize size;
  const bool haveSize = frame.keyFrame && ReadVolSize(frame.data, frame.length, &size);
  if (state.bHaveCaps && (!haveSize || (size.width == state.size.width && size.height == state.size.height)))
    return;
  GstCaps* caps = gst_caps_new_simple("video/mpeg", "mpegversion", G_TYPE_INT, 4, "systemstream",
                                      G_TYPE_BOOLEAN, FALSE, nullptr);
  if (haveSize) {
    gst_caps_set_simple(caps, "width", G_TYPE_INT, size.width, "height", G_TYPE_INT, size.height, nullptr);
    state.size = size;
  }
  gst_base_src_set_caps(base, caps);
  gst_caps_unref(caps);
  state.bHaveCaps = true;
}

GstBuffer* MakeBuffer(GstBaseSrc* base, SrcState& state, const AssembledFrame& frame) {
  UpdateCaps(base, state, frame);
  GstBuffer* buffer = gst_buffer_new_memdup(frame.data, frame.length);
  bool jumped = false;
  const GstClockTime time = state.timeline.Place(frame.timestamp, RunningTimeNow(GST_ELEMENT(base)), &jumped);
  GST_BUFFER_PTS(buffer) = time;
  GST_BUFFER_DTS(buffer) = time;  // Simple Profile has no B-frames: decode order is display order
  if (!frame.keyFrame) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
  if (state.bDiscont || frame.skipped > 0 || jumped) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
  state.bDiscont = false;
  return buffer;
}

void Receive(GstBaseSrc* base, SrcState& state, gsize length, GSocketAddress* from) {
  WireAddress source;
  if (!WireAddressOf(from, &source)) return;
  state.stream.Take(
      state.datagram.get(), length, source, NowMs(),
      [&](const AssembledFrame& frame) { state.ready.push_back(MakeBuffer(base, state, frame)); },
      [&](const WireAddress& to, const std::uint8_t* request, std::size_t size) {
        // From our own socket: the address the stream is sent to, which its sender knows.
        GSocketAddress* address = SocketAddressOf(to);
        GError* error = nullptr;
        if (g_socket_send_to(state.socket, address, reinterpret_cast<const gchar*>(request), size, nullptr,
                             &error) < 0) {
          GST_DEBUG_OBJECT(base, "key-frame request to %s not sent: %s", WireAddressText(to).c_str(),
                           error->message);
          g_clear_error(&error);
        }
        g_object_unref(address);
      });
  if (state.stream.TakeUserNameChange())
    g_object_notify_by_pspec(G_OBJECT(base), g_properties[kPropUserName]);
}

GstFlowReturn Create(GstPushSrc* push, GstBuffer** out) {
  auto* base = GST_BASE_SRC(push);
  SrcState& state = StateOf(push);
  for (;;) {
    if (!state.ready.empty()) {
      *out = state.ready.front();
      state.ready.pop_front();
      return GST_FLOW_OK;
    }
    GError* error = nullptr;
    GSocketAddress* from = nullptr;
    // Read first and wait only when nothing is there: a frame's datagrams come in a burst.
    gssize length = g_socket_receive_from(state.socket, &from, reinterpret_cast<gchar*>(state.datagram.get()),
                                          kDatagramBytes, state.cancellable, &error);
    if (length < 0 && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK)) {
      g_clear_error(&error);
      if (!g_socket_condition_wait(state.socket, G_IO_IN, state.cancellable, &error) &&
          g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        g_clear_error(&error);
        return GST_FLOW_FLUSHING;
      }
      g_clear_error(&error);
      continue;
    }
    if (length >= 0) {
      Receive(base, state, static_cast<gsize>(length), from);
      g_clear_object(&from);
      continue;
    }
    g_clear_object(&from);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
      g_clear_error(&error);
      return GST_FLOW_FLUSHING;
    }
    // The answer to a request sent to a port where nobody listens (a sender gone): read on.
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED) ||
        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_HOST_UNREACHABLE) ||
        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NETWORK_UNREACHABLE)) {
      GST_LOG_OBJECT(push, "read on after: %s", error->message);
      g_clear_error(&error);
      continue;
    }
    GST_ELEMENT_ERROR(push, RESOURCE, READ, (nullptr), ("%s", error->message));
    g_clear_error(&error);
    return GST_FLOW_ERROR;
  }
}

}  // namespace

static void gst_quelvora_src_class_init(GstQuelvoraSrcClass* klass) {
  auto* object = G_OBJECT_CLASS(klass);
  object->set_property = SetProperty;
  object->get_property = GetProperty;
  object->finalize = Finalize;

  const auto readWrite = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  g_properties[kPropAddress] = g_param_spec_string(
      "address", "Address", "Local address to receive on; a multicast group (224.0.0.0/4) is joined",
      kDefaultAddress, readWrite);
  g_properties[kPropPort] =
      g_param_spec_int("port", "Port", "Local port to receive on (0: one the system chooses)", 0, 65535,
                       kDefaultPort, readWrite);
  g_properties[kPropSender] = g_param_spec_string(
      "sender", "Sender",
      "ADDRESS:PORT of the sender to follow; empty follows the first that speaks, and the next one after "
      "a second of quiet",
      "", readWrite);
  g_properties[kPropUserName] =
      g_param_spec_string("user-name", "User name", "The sender's user name, as its datagrams carry it", "",
                          static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));
  g_properties[kPropFrames] = FigureProperty("frames", "Frames", "Frames pushed");
  g_properties[kPropLosses] = FigureProperty(
      "losses", "Losses", "Frames of the sender not pushed: lost, damaged or before a key frame");
  g_properties[kPropDatagrams] = FigureProperty("datagrams", "Datagrams", "Datagrams read from the sender");
  g_properties[kPropRequests] =
      FigureProperty("key-frame-requests", "Key-frame requests", "Key-frame requests sent to the sender");
  g_object_class_install_properties(object, kPropCount, g_properties);

  auto* element = GST_ELEMENT_CLASS(klass);
  gst_element_class_add_static_pad_template(element, &g_srcTemplate);
  gst_element_class_set_static_metadata(
      element, "Quelvora video source", "Source/Network",
      "Receives one sender's video from Quelvora datagrams, as whole MPEG-4 frames in order",
      "Quelvora developers");

  auto* base = GST_BASE_SRC_CLASS(klass);
  base->start = Start;
  base->stop = Stop;
  base->unlock = Unlock;
  base->unlock_stop = UnlockStop;
  base->query = Query;
  GST_PUSH_SRC_CLASS(klass)->create = Create;

  GST_DEBUG_CATEGORY_INIT(quelvora_src_debug, "quelvorasrc", 0, "Quelvora video source");
}

static void gst_quelvora_src_init(GstQuelvoraSrc* self) {
  self->state = new SrcState;
  gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
  gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}
