// avenc_mpeg4 ! quelvorasink into a receiving control: what it shows and records is the test camera
// the pipeline was fed, and its key-frame request reaches the encoder.
#include <gst/app/gstappsrc.h>
#include <gst/video/video-event.h>

#include <QWidget>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/vfw/capture_driver.h"
#include "tests/gst/gst_fixture.h"
#include "tests/support/capture_fixture.h"

namespace {

using namespace gsttest;

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr int kFrameMs = 66;  // 15 frames a second
// videoconvert's 4:2:0 conversion of the camera's sharp colour bars costs some 2 dB more than the
// control's own (26 to 27 dB at any bit rate); a wrong picture is far below either.
constexpr double kMinPsnr = 24.0;

// Every picture the control draws, appended to a file.
class PictureFile : public DrawnPictureSink {
 public:
  explicit PictureFile(const std::string& path) : out_(path, std::ios::binary) {}
  void PictureDrawn(const BYTE* bits, int width, int height) override {
    out_.write(reinterpret_cast<const char*>(bits), static_cast<std::streamsize>(width) * height * 3);
    out_.flush();
  }

 private:
  std::ofstream out_;
};

// The encoder's frames, as they leave it, and how many it had been given when an upstream
// force-key-unit event reached it.
struct EncoderLog {
  std::mutex lock;
  int given = 0;
  std::vector<bool> keyFrames;
  std::vector<int> givenAtRequest;
};

GstPadProbeReturn CountGiven(GstPad*, GstPadProbeInfo*, gpointer data) {
  auto* log = static_cast<EncoderLog*>(data);
  std::lock_guard lock(log->lock);
  ++log->given;
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn NoteOutput(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* log = static_cast<EncoderLog*>(data);
  std::lock_guard lock(log->lock);
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
    log->keyFrames.push_back(
        !GST_BUFFER_FLAG_IS_SET(GST_PAD_PROBE_INFO_BUFFER(info), GST_BUFFER_FLAG_DELTA_UNIT));
  } else if (gst_video_event_is_force_key_unit(GST_PAD_PROBE_INFO_EVENT(info))) {
    log->givenAtRequest.push_back(log->given);
  }
  return GST_PAD_PROBE_OK;
}

class SinkToControlTest : public sendtest::ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    StartGStreamer();
    folder_ = TestFolder();
    {
      sendtest::Receiver probe;  // a port the system chose, free again once the probe is gone
      receivePort_ = probe.Port();
    }
    sendtest::Receiver probe;
    sendPort_ = probe.Port();
  }
  void TearDown() override {
    if (pipeline_ != nullptr) {
      gst_element_set_state(pipeline_, GST_STATE_NULL);
      gst_object_unref(pipeline_);
    }
    ControlTest::TearDown();
  }

  // appsrc (the test camera's pictures) ! videoconvert ! avenc_mpeg4 ! quelvorasink to the control.
  void StartPipeline(int gopSize) {
    const std::string description =
        "appsrc name=camera is-live=true format=time caps=video/x-raw,format=BGR,width=352,height=288,"
        "framerate=15/1 ! videoconvert ! avenc_mpeg4 name=encoder bitrate=250000 gop-size=" +
        std::to_string(gopSize) +
        " ! quelvorasink name=sink host=127.0.0.1 port=" + std::to_string(receivePort_) +
        " bind-port=" + std::to_string(sendPort_) + " user-name=Gus";
    GError* error = nullptr;
    pipeline_ = gst_parse_launch(description.c_str(), &error);
    ASSERT_NE(pipeline_, nullptr) << error->message;
    GstElement* encoder = gst_bin_get_by_name(GST_BIN(pipeline_), "encoder");
    GstPad* in = gst_element_get_static_pad(encoder, "sink");
    GstPad* out = gst_element_get_static_pad(encoder, "src");
    gst_pad_add_probe(in, GST_PAD_PROBE_TYPE_BUFFER, CountGiven, &log_, nullptr);
    gst_pad_add_probe(
        out, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_UPSTREAM),
        NoteOutput, &log_, nullptr);
    gst_object_unref(in);
    gst_object_unref(out);
    gst_object_unref(encoder);
    ASSERT_NE(gst_element_set_state(pipeline_, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  }

  // Test camera picture `frame`, pushed at its time; the control's event loop runs a frame's time.
  void PushFrame(int frame) {
    GstElement* camera = gst_bin_get_by_name(GST_BIN(pipeline_), "camera");
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, kWidth * kHeight * 3, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    DrawTestCameraPicture(map.data, kWidth, kHeight, static_cast<std::uint32_t>(frame));
    gst_buffer_unmap(buffer, &map);
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(frame, GST_SECOND, 15);
    gst_app_src_push_buffer(GST_APP_SRC(camera), buffer);
    gst_object_unref(camera);
    Pump(kFrameMs);
  }

  // A control on a form that shows and records the sink's stream, keeping what it draws.
  std::unique_ptr<CQuelvoraCtrl> StartReceiving() {
    auto ctrl = MakeControl();
    ctrl->Widget()->show();
    ctrl->m_endpoints.recvLocal.Store("127.0.0.1", receivePort_);
    const long id = ctrl->AddClient("127.0.0.1", static_cast<short>(sendPort_),
                                    (folder_ + "/recorded.avi").c_str(), "Gus");
    EXPECT_EQ(id, 1);
    EXPECT_TRUE(ctrl->ShowClient(id));
    drawn_ = std::make_unique<PictureFile>(folder_ + "/drawn.bgr");
    ctrl->m_pDrawnPictures = drawn_.get();
    EXPECT_TRUE(ctrl->RecvVideo());
    return ctrl;
  }

  void StopReceiving(CQuelvoraCtrl& ctrl) {
    Pump(300);
    EXPECT_TRUE(ctrl.StopRecv());
    EXPECT_TRUE(ctrl.RemoveClientAll());  // completes the recording
    ctrl.m_pDrawnPictures = nullptr;
  }

  std::string folder_;
  USHORT receivePort_ = 0;
  USHORT sendPort_ = 0;
  GstElement* pipeline_ = nullptr;
  EncoderLog log_;
  std::unique_ptr<PictureFile> drawn_;
};

TEST_F(SinkToControlTest, TheControlShowsAndRecordsThePicturesThePipelineWasFed) {
  auto ctrl = StartReceiving();
  StartPipeline(30);
  constexpr int kFrames = 45;
  for (int i = 0; i < kFrames; ++i) PushFrame(i);
  StopReceiving(*ctrl);

  std::string summary;
  EXPECT_EQ(CheckPictures(folder_ + "/drawn.bgr", kWidth, kHeight, true, kMinPsnr, &summary), 0) << summary;
  EXPECT_GE(PicturesIn(folder_ + "/drawn.bgr", kWidth, kHeight), kFrames - 1) << summary;
  EXPECT_EQ(ctrl->m_nFramesShown,
            static_cast<std::uint64_t>(PicturesIn(folder_ + "/drawn.bgr", kWidth, kHeight)));

  // FFmpeg reads the recording back; every picture in it is the camera's.
  ASSERT_GT(ctrl->m_nFramesRecorded, static_cast<std::uint64_t>(kFrames / 2));
  const std::string decoded = folder_ + "/recorded.bgr";
  ASSERT_EQ(
      std::system(("ffmpeg -v error -y -i " + folder_ + "/recorded.avi -f rawvideo -pix_fmt bgr24 " + decoded)
                      .c_str()),
      0);
  EXPECT_EQ(CheckPictures(decoded, kWidth, kHeight, false, kMinPsnr, &summary), 0) << summary;
  EXPECT_GE(PicturesIn(decoded, kWidth, kHeight), static_cast<long>(ctrl->m_nFramesRecorded));
}

TEST_F(SinkToControlTest, TheControlsKeyFrameRequestMakesTheEncodersNextFrameAKeyFrame) {
  // No key frame of the encoder's own accord after the first.
  StartPipeline(1000);
  for (int i = 0; i < 10; ++i) PushFrame(i);
  // The control joins mid-stream: it waits for a key frame, and asks the sink's port for one.
  auto ctrl = StartReceiving();
  for (int i = 10; i < 30; ++i) PushFrame(i);
  StopReceiving(*ctrl);

  std::lock_guard lock(log_.lock);
  EXPECT_GE(ctrl->m_keyFrameRequests.Sent(), 1u);
  ASSERT_GE(log_.givenAtRequest.size(), 1u);
  // The frame the encoder was given next, or the one it was being given as the request came.
  const int given = log_.givenAtRequest.front();
  ASSERT_LT(given, static_cast<int>(log_.keyFrames.size()));
  EXPECT_TRUE(log_.keyFrames[given] || (given > 0 && log_.keyFrames[given - 1]))
      << "request at frame " << given;
  for (int i = 1; i < given - 1; ++i) EXPECT_FALSE(log_.keyFrames[i]) << i;
  // The control drew from that key frame on, the camera's pictures every one.
  EXPECT_GE(ctrl->m_nFramesShown, 10u);
  std::string summary;
  EXPECT_EQ(CheckPictures(folder_ + "/drawn.bgr", kWidth, kHeight, true, kMinPsnr, &summary), 0) << summary;
}

}  // namespace
