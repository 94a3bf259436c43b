// quelvorasink in a GstHarness: its datagrams are a sending control's, byte for byte; receivers'
// key-frame requests become force-key-unit events upstream; keep-alives go out as a control's do.
#include <gst/check/gstharness.h>
#include <gst/video/video-event.h>

#include <algorithm>

#include "net/compress_type.h"
#include "net/video_packet.h"
#include "tests/gst/gst_fixture.h"
#include "tests/support/capture_fixture.h"
#include "tests/support/test_stream.h"

namespace {

using namespace gsttest;

constexpr const char* kCaps =
    "video/mpeg, mpegversion=(int)4, systemstream=(boolean)false, width=(int)352, height=(int)288, "
    "framerate=(fraction)15/1";

// The sink, set up before the harness starts it (its socket opens then).
template <typename... Settings>
GstHarness* SinkTo(USHORT port, Settings... settings) {
  GstElement* sink = gst_element_factory_make("quelvorasink", nullptr);
  g_object_set(sink, "host", "127.0.0.1", "port", static_cast<int>(port), settings..., nullptr);
  GstHarness* h = gst_harness_new_with_element(sink, "sink", nullptr);
  gst_object_unref(sink);
  gst_harness_set_src_caps_str(h, kCaps);
  return h;
}

int BindPortOf(GstHarness* h) {
  int port = 0;
  g_object_get(h->element, "bind-port", &port, nullptr);
  return port;
}

bool IsKeepAlive(const Bytes& datagram) {
  const auto header = ParseDatagram(datagram.data(), datagram.size());
  return header && header->payloadLength == 0;
}

class SinkTest : public sendtest::ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    StartGStreamer();
  }
};

TEST_F(SinkTest, DatagramsAreASendingControlsByteForByte) {
  // A control sends its camera for two seconds; its frames go through the sink with its settings.
  SetCaptureDriversForTesting({MakeTestCameraDriver()});
  sendtest::Receiver fromControl;
  auto ctrl = MakeControl();
  ctrl->SetUserName("Alice");
  ASSERT_TRUE(ctrl->SetSendFrameRate(15));
  sendtest::SendTo(*ctrl, fromControl.Port());
  ASSERT_TRUE(ctrl->InitCapture(0));
  ASSERT_TRUE(ctrl->SendVideo());
  Pump(2000);
  ASSERT_TRUE(ctrl->StopSend());
  const std::vector<Bytes> controls = fromControl.Drain();
  const auto frames = sendtest::Reassemble(controls);
  ASSERT_GT(frames.size(), 15u);

  sendtest::Receiver fromSink;
  GstHarness* h =
      SinkTo(fromSink.Port(), "user-name", "Alice", "seqnum-offset", static_cast<int>(frames[0].sequence),
             "timestamp-offset", static_cast<gint64>(frames[0].timestamp));
  for (const auto& frame : frames) {
    GstBuffer* buffer = gst_buffer_new_memdup(frame.data.data(), frame.data.size());
    if (!frame.marker) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    ASSERT_EQ(gst_harness_push(h, buffer), GST_FLOW_OK);
  }
  std::vector<Bytes> sinks;
  for (const auto& d : fromSink.Drain())
    if (!IsKeepAlive(d)) sinks.push_back(d);
  ASSERT_EQ(sinks.size(), controls.size());
  for (std::size_t i = 0; i < sinks.size(); ++i) ASSERT_EQ(sinks[i], controls[i]) << "datagram " << i;

  guint64 sent = 0;
  g_object_get(h->element, "frames", &sent, nullptr);
  EXPECT_EQ(sent, frames.size());
  gst_harness_teardown(h);
}

// The next force-key-unit event upstream within the time; other upstream events are passed over.
GstEvent* NextForceKeyUnit(GstHarness* h, int withinMs) {
  for (int waited = 0; waited < withinMs; waited += 10) {
    while (GstEvent* event = gst_harness_try_pull_upstream_event(h)) {
      if (gst_video_event_is_force_key_unit(event)) return event;
      gst_event_unref(event);
    }
    g_usleep(10000);
  }
  return nullptr;
}

void ExpectForceKeyUnit(GstEvent* event) {
  ASSERT_NE(event, nullptr);
  gboolean allHeaders = FALSE;
  EXPECT_TRUE(gst_video_event_parse_upstream_force_key_unit(event, nullptr, &allHeaders, nullptr));
  EXPECT_TRUE(allHeaders);  // the stream's headers with the key frame, for a receiver starting on it
  gst_event_unref(event);
}

TEST_F(SinkTest, ARequestFromTheDestinationAsksUpstreamForAKeyFrameAtMostTwiceASecond) {
  sendtest::Receiver destination, stranger;
  GstHarness* h = SinkTo(destination.Port());
  Bytes request(kKeyFrameRequestSize);
  WriteKeyFrameRequest(request.data(), 1234);
  const USHORT sinkPort = static_cast<USHORT>(BindPortOf(h));
  ASSERT_NE(sinkPort, 0);

  // Anyone but the destination is not heard.
  stranger.SendTo(sinkPort, request);
  EXPECT_EQ(NextForceKeyUnit(h, 300), nullptr);

  destination.SendTo(sinkPort, request);
  ExpectForceKeyUnit(NextForceKeyUnit(h, 2000));
  // A second request within half a second waits for the half second; it is not lost.
  destination.SendTo(sinkPort, request);
  EXPECT_EQ(NextForceKeyUnit(h, 250), nullptr);
  ExpectForceKeyUnit(NextForceKeyUnit(h, 1000));

  // A key frame the encoder makes anyway answers the request that waits.
  destination.SendTo(sinkPort, request);
  g_usleep(100 * 1000);  // read on the sink's next tick, and not due for another 400 ms
  gst_harness_push(h, gst_buffer_new_memdup("\0\0\1\xB6", 4));
  EXPECT_EQ(NextForceKeyUnit(h, 800), nullptr);

  guint64 asked = 0;
  g_object_get(h->element, "key-frames-requested", &asked, nullptr);
  EXPECT_EQ(asked, 2u);
  gst_harness_teardown(h);
}

TEST_F(SinkTest, KeepAlivesCarryTheNextFramesNumberEveryThreeHundredMilliseconds) {
  sendtest::Receiver destination;
  // The name is UTF-8 here, and leaves in the control's code page (936) as a control's does.
  GstHarness* h =
      SinkTo(destination.Port(), "user-name", "\u5F20\u4E09", "seqnum-offset", 500, "timestamp-offset",
             static_cast<gint64>(80000), "source-id", static_cast<gint64>(0x01020304));
  gst_harness_push(h, gst_buffer_new_memdup("\0\0\1\xB6", 4));
  g_usleep(1000 * 1000);
  const auto arrived = destination.Drain(100);
  gst_harness_teardown(h);

  // After the frame numbered 500 (timestamp 80000, 66 ms at 15 fps after it): 501 and 80528.
  Bytes expected(kVideoHeaderSizeWithName);
  expected.resize(WriteKeepAlivePacket(expected.data(), kCompressTypeMpeg4,
                                       PacketFields{501, 80528, 0x01020304}, "\xD5\xC5\xC8\xFD"));
  int keepAlives = 0;
  for (const auto& d : arrived) {
    if (!IsKeepAlive(d)) continue;
    ++keepAlives;
    if (keepAlives > 1) {
      EXPECT_EQ(d, expected);
    }
  }
  // One at once, then one every 300 ms: four in the second.
  EXPECT_GE(keepAlives, 3);
  EXPECT_LE(keepAlives, 5);
}

// The payload of the datagrams of one frame, put back together.
Bytes FramePayload(const std::vector<Bytes>& datagrams) {
  Bytes frame;
  for (const Bytes& d : datagrams) {
    if (IsKeepAlive(d)) continue;
    const auto header = ParseDatagram(d.data(), d.size());
    frame.insert(frame.end(), d.begin() + static_cast<long>(header->payloadOffset), d.end());
  }
  return frame;
}

TEST_F(SinkTest, AKeyFrameWithoutTheStreamHeadersTakesThemFromTheCaps) {
  // An encoder that gives the headers (up to the first picture) only in the caps, as codec_data.
  const Bytes whole = test_stream::EncodeStream(176, 144, 1).at(0).bytes;
  const Bytes picture{0, 0, 1, 0xB6};
  const auto at = std::search(whole.begin(), whole.end(), picture.begin(), picture.end());
  ASSERT_NE(at, whole.end());
  const Bytes headers(whole.begin(), at), frame(at, whole.end());

  sendtest::Receiver destination;
  GstElement* sink = gst_element_factory_make("quelvorasink", nullptr);
  g_object_set(sink, "host", "127.0.0.1", "port", static_cast<int>(destination.Port()), nullptr);
  GstHarness* h = gst_harness_new_with_element(sink, "sink", nullptr);
  gst_object_unref(sink);
  GstBuffer* codecData = gst_buffer_new_memdup(headers.data(), headers.size());
  GstCaps* caps = gst_caps_from_string(kCaps);
  gst_caps_set_simple(caps, "codec_data", GST_TYPE_BUFFER, codecData, nullptr);
  gst_harness_set_src_caps(h, caps);
  gst_buffer_unref(codecData);

  gst_harness_push(h, gst_buffer_new_memdup(frame.data(), frame.size()));
  EXPECT_EQ(FramePayload(destination.Drain()), whole);
  // A key frame that has them goes as it is, and so does any other frame.
  gst_harness_push(h, gst_buffer_new_memdup(whole.data(), whole.size()));
  EXPECT_EQ(FramePayload(destination.Drain()), whole);
  GstBuffer* delta = gst_buffer_new_memdup(frame.data(), frame.size());
  GST_BUFFER_FLAG_SET(delta, GST_BUFFER_FLAG_DELTA_UNIT);
  gst_harness_push(h, delta);
  EXPECT_EQ(FramePayload(destination.Drain()), frame);
  gst_harness_teardown(h);
}

}  // namespace
