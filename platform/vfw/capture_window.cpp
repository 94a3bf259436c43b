// The capture window: a child window connected to one capture driver. It shows the live picture
// (preview) and streams frames to the video-stream callback.
//
// One grabbing thread at a time owns the driver's frames: in preview mode it grabs (at the preview
// rate, or at the camera's own pace) only to show pictures; in stream mode (WM_CAP_SEQUENCE_NOFILE)
// it calls the callback for every frame the driver hands it, the newest there is. Stopping,
// disconnecting and destroying the window join that thread first, waking it through a descriptor
// it waits on beside the device, so nothing it uses is released under it. Pictures reach the
// screen through a timer on the UI thread; the grabbing thread only hands over the latest frame.
// A device that goes away ends the grabbing thread, which posts the news to the UI thread; there
// the window stops showing, marks the device lost and calls the error callback, once.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/gdi/dib.h"
#include "platform/vfw/capture_driver.h"
#include "platform/vfw/vfw.h"
#include "platform/vfw/wake_fd.h"

CAPTUREPARMS DefaultCaptureParms() {
  CAPTUREPARMS p{};
  p.dwRequestMicroSecPerFrame = 66667;
  p.fMakeUserHitOKToCapture = FALSE;
  p.wPercentDropForError = 10;
  p.fYield = FALSE;
  p.dwIndexSize = 34952;
  p.wChunkGranularity = 0;
  p.fUsingDOSMemory = FALSE;
  p.wNumVideoRequested = 5;
  p.fCaptureAudio = TRUE;
  p.wNumAudioRequested = 4;
  p.vKeyAbort = VK_ESCAPE;
  p.fAbortLeftMouse = TRUE;
  p.fAbortRightMouse = TRUE;
  p.fLimitEnabled = FALSE;
  p.wTimeLimit = 30;
  p.fMCIControl = FALSE;
  p.fStepMCIDevice = FALSE;
  p.dwMCIStartTime = 0;
  p.dwMCIStopTime = 0;
  p.fStepCaptureAt2x = FALSE;
  p.wStepCaptureAverageFrames = 3;
  p.dwAudioBufferSize = 0;
  p.fDisableWriteCache = TRUE;
  p.AVStreamMaster = AVSTREAMMASTER_AUDIO;
  return p;
}

namespace {

void ReapLater();
void PostLoss(HWND hwnd);

using Clock = std::chrono::steady_clock;

// Converts a frame into the picture the preview paints, the picture kept from frame to frame so
// that frames of one size allocate nothing.
void PictureFromDib(const BYTE* bits, const BITMAPINFOHEADER& h, QImage& picture) {
  if (picture.width() != h.biWidth || picture.height() != h.biHeight)
    picture = QImage(h.biWidth, h.biHeight, QImage::Format_RGB32);
  if (!picture.isNull()) DibToImageRows(h, bits, 0, h.biHeight, picture);
}

class CCaptureWindow : public CWnd {
 public:
  CCaptureWindow() : parms_(DefaultCaptureParms()) {}
  ~CCaptureWindow() override {
    Shutdown();
    DestroyWindow();
  }

  // The window's widget can also go away with its parent's; stop everything then too.
  void WatchWidget() {
    QObject::connect(Widget(), &QObject::destroyed, [this] {
      Shutdown();
      ReapLater();
    });
  }

  // The window cannot work without its wake descriptor.
  bool Ready() const { return wake_.Valid(); }

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message != WM_CAP_GET_USER_DATA && !OnGrabbingThread()) JoinEndedGrabber();
    switch (message) {
      case WM_CAP_DRIVER_CONNECT:
        return Connect(wParam);
      case WM_CAP_DRIVER_DISCONNECT:
        return Disconnect();
      case WM_CAP_DRIVER_GET_CAPS:
        return GetCaps(wParam, reinterpret_cast<CAPDRIVERCAPS*>(lParam));
      case WM_CAP_GET_SEQUENCE_SETUP:
        if (!lParam || wParam == 0) return FALSE;
        std::memcpy(reinterpret_cast<void*>(lParam), &parms_, std::min<WPARAM>(wParam, sizeof(parms_)));
        return TRUE;
      case WM_CAP_SET_SEQUENCE_SETUP:
        if (!lParam || wParam == 0 || Streaming()) return FALSE;
        std::memcpy(&parms_, reinterpret_cast<const void*>(lParam), std::min<WPARAM>(wParam, sizeof(parms_)));
        return TRUE;
      case WM_CAP_GET_VIDEOFORMAT:
        return GetVideoFormat(wParam, reinterpret_cast<void*>(lParam));
      case WM_CAP_SET_VIDEOFORMAT:
        return SetVideoFormat(wParam, reinterpret_cast<const void*>(lParam));
      case WM_CAP_SET_PREVIEW:
        if (!session_) return FALSE;
        preview_ = wParam != 0;
        if (preview_) overlay_ = false;
        UpdateShowing();
        return TRUE;
      case WM_CAP_SET_OVERLAY:
        if (!session_ || !session_->HasOverlay()) return FALSE;
        overlay_ = wParam != 0;
        if (overlay_) preview_ = false;
        UpdateShowing();
        return TRUE;
      case WM_CAP_SET_PREVIEWRATE:
        previewRateMs_ = std::max<UINT>(1, static_cast<UINT>(wParam));
        if (timer_) timer_->setInterval(static_cast<int>(previewRateMs_));
        if (mode_ == Mode::kPreview && !OnGrabbingThread()) {  // the preview starts again at the new rate
          StopGrabber();
          UpdateShowing();
        }
        return TRUE;
      case WM_CAP_SET_SCALE:
        scale_ = wParam != 0;
        PaintPicture();
        return TRUE;
      case WM_CAP_SET_USER_DATA:
        userData_.store(lParam);
        return TRUE;
      case WM_CAP_GET_USER_DATA:
        return userData_.load();
      case WM_CAP_SET_CALLBACK_ERROR:
        errorCallback_ = reinterpret_cast<CAPERRORCALLBACK>(lParam);
        return TRUE;
      case WM_CAP_SET_CALLBACK_VIDEOSTREAM:
        SetCallback(reinterpret_cast<CAPVIDEOCALLBACK>(lParam));
        return TRUE;
      case WM_CAP_SEQUENCE_NOFILE:
        return StartStream();
      case WM_CAP_STOP:
      case WM_CAP_ABORT:
        StopStream();
        return TRUE;
      case WM_DESTROY:
        Shutdown();
        ReapLater();
        return CWnd::WindowProc(message, wParam, lParam);
      case WM_PAINT:
      case WM_SIZE:
        PaintPicture();
        return 0;
      default:
        return CWnd::WindowProc(message, wParam, lParam);
    }
  }

  void Info(CaptureWindowInfo* info) const {
    info->driverIndex = session_ ? driverIndex_ : -1;
    info->format = session_ ? session_->Format() : BITMAPINFOHEADER{};
    info->preview = preview_;
    info->overlay = overlay_;
    info->scale = scale_;
    info->previewRateMs = previewRateMs_;
    info->streaming = Streaming();
    info->callbackSet = callback_.load() != nullptr;
    info->framesDelivered = framesDelivered_.load();
    info->previewPictures = previewPictures_;
    info->lost = lost_;
  }

  // UI thread, posted by a grabbing thread that found its device gone.
  void OnLost() {
    JoinEndedGrabber();
    if (!lost_ || lostReported_) return;
    lostReported_ = true;
    PaintPicture();
    lostText_ = "The video capture device \"" + (driver_ ? driver_->Name() : std::string()) +
                "\" was removed or stopped working.";
    // Last: the callback may run a modal loop in which the window is destroyed and reaped.
    if (errorCallback_) errorCallback_(m_hWnd, IDS_CAP_DRIVER_ERROR, lostText_.c_str());
  }

 private:
  enum class Mode { kNone, kPreview, kStream };

  bool OnGrabbingThread() const { return std::this_thread::get_id() == grabberId_.load(); }
  bool Streaming() const { return mode_ == Mode::kStream && running_.load(); }
  bool Showing() const { return session_ && !lost_ && (preview_ || overlay_); }

  LRESULT Connect(WPARAM index) {
    if (OnGrabbingThread() || index >= static_cast<WPARAM>(MAXVIDEODRIVERS)) return FALSE;
    if (session_) Disconnect();
    // The devices as they are now: one plugged in since the list was read can be connected.
    RefreshCaptureDrivers();
    std::shared_ptr<CaptureDriver> driver = CaptureDriverAt(static_cast<int>(index));
    if (!driver) return FALSE;
    lost_ = lostReported_ = false;
    session_ = driver->Connect();
    if (!session_) return FALSE;
    driver_ = std::move(driver);
    driverIndex_ = static_cast<int>(index);
    UpdateShowing();
    return TRUE;
  }

  LRESULT Disconnect() {
    if (!session_ || OnGrabbingThread()) return FALSE;
    StopGrabber();
    session_.reset();
    driver_.reset();
    driverIndex_ = -1;
    lost_ = lostReported_ = false;
    UpdateShowing();
    return TRUE;
  }

  LRESULT GetCaps(WPARAM size, CAPDRIVERCAPS* out) const {
    if (!session_ || !out) return FALSE;
    CAPDRIVERCAPS caps{};
    caps.wDeviceIndex = static_cast<UINT>(driverIndex_);
    caps.fHasOverlay = session_->HasOverlay() ? TRUE : FALSE;
    caps.fCaptureInitialized = TRUE;
    std::memcpy(out, &caps, std::min<WPARAM>(size, sizeof(caps)));
    return TRUE;
  }

  LRESULT GetVideoFormat(WPARAM size, void* out) const {
    if (!session_) return 0;
    const BITMAPINFOHEADER format = session_->Format();
    if (out) std::memcpy(out, &format, std::min<WPARAM>(size, sizeof(format)));
    return sizeof(format);
  }

  LRESULT SetVideoFormat(WPARAM size, const void* block) {
    if (!session_ || !block || size < sizeof(BITMAPINFOHEADER) || mode_ == Mode::kStream ||
        OnGrabbingThread())
      return FALSE;
    BITMAPINFOHEADER format;
    std::memcpy(&format, block, sizeof(format));
    StopGrabber();
    const bool taken = session_->SetFormat(format);
    UpdateShowing();
    return taken ? TRUE : FALSE;
  }

  void SetCallback(CAPVIDEOCALLBACK callback) {
    // From the UI thread, wait for a callback in progress, so that what it uses may be released once
    // this returns. The callback itself may change it without waiting.
    if (OnGrabbingThread()) {
      callback_.store(callback);
      return;
    }
    std::lock_guard<std::mutex> lock(callbackMutex_);
    callback_.store(callback);
  }

  LRESULT StartStream() {
    if (!session_ || lost_ || OnGrabbingThread() || Streaming()) return FALSE;
    StopGrabber();
    if (!session_->Start(parms_.dwRequestMicroSecPerFrame)) {
      UpdateShowing();
      return FALSE;
    }
    StartGrabber(Mode::kStream);
    return TRUE;
  }

  void StopStream() {
    if (OnGrabbingThread()) {
      // From inside the callback: the thread ends once the callback returns; it is joined later.
      stop_.store(true);
      return;
    }
    if (mode_ != Mode::kStream) return;
    StopGrabber();
    UpdateShowing();
  }

  // A grabber ends by itself when the device goes away or the callback aborts its stream; its thread
  // is joined by the next message or preview tick, and the preview takes over again unless the
  // device is lost.
  void JoinEndedGrabber() {
    if (mode_ == Mode::kNone || running_.load()) return;
    StopGrabber();
    UpdateShowing();
  }

  // Runs the preview grabber and the paint timer exactly when a picture is to be shown.
  void UpdateShowing() {
    const bool show = Showing();
    if (show && mode_ == Mode::kNone && session_->Start(previewRateMs_ * 1000u)) StartGrabber(Mode::kPreview);
    if (!show && mode_ == Mode::kPreview) StopGrabber();
    showWanted_.store(show);
    if (show && !timer_) {
      timer_ = std::make_unique<QTimer>();
      QObject::connect(timer_.get(), &QTimer::timeout, [this] { OnTimer(); });
      timer_->start(static_cast<int>(previewRateMs_));
    } else if (!show && timer_) {
      timer_.reset();
    }
  }

  void StartGrabber(Mode mode) {
    stop_.store(false);
    gone_.store(false);
    wake_.Clear();
    running_.store(true);
    mode_ = mode;
    const BITMAPINFOHEADER format = session_->Format();
    const Clock::time_point start = Clock::now();  // frame times count from here
    thread_ = std::thread([this, mode, format, start, hwnd = m_hWnd] { Grab(mode, format, start, hwnd); });
  }

  void StopGrabber() {
    if (mode_ == Mode::kNone) return;
    stop_.store(true);
    wake_.Wake();
    if (thread_.joinable()) thread_.join();
    session_->Stop();
    if (gone_.load()) lost_ = true;
    mode_ = Mode::kNone;
  }

  // The grabbing thread: frames at the driver's pace until stopped or the device is gone.
  void Grab(Mode mode, BITMAPINFOHEADER format, Clock::time_point start, HWND hwnd) {
    grabberId_.store(std::this_thread::get_id());
    std::vector<BYTE> bits(format.biSizeImage);
    while (!stop_.load()) {
      const CaptureSession::Grabbed grabbed = session_->Grab(bits.data(), wake_);
      if (grabbed.result == CaptureSession::GrabResult::kStopped) break;
      if (grabbed.result == CaptureSession::GrabResult::kGone) {
        gone_.store(true);
        break;
      }
      if (grabbed.result != CaptureSession::GrabResult::kFrame) continue;
      if (mode == Mode::kStream) Deliver(hwnd, bits, std::max(Clock::duration::zero(), grabbed.captured - start));
      if (showWanted_.load()) Hand(bits, format);
    }
    grabberId_.store(std::thread::id());
    const bool gone = gone_.load();
    running_.store(false);  // from here on the UI thread may join and release everything
    if (gone) PostLoss(hwnd);
  }

  void Deliver(HWND hwnd, std::vector<BYTE>& bits, Clock::duration sinceStart) {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    const CAPVIDEOCALLBACK callback = callback_.load();
    if (!callback) return;
    VIDEOHDR header{};
    header.lpData = bits.data();
    header.dwBufferLength = static_cast<DWORD>(bits.size());
    header.dwBytesUsed = static_cast<DWORD>(bits.size());
    header.dwTimeCaptured =
        static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
    header.dwFlags = VHDR_DONE;
    callback(hwnd, &header);
    framesDelivered_.fetch_add(1);
  }

  // Hands the frame to the preview by swapping buffers: the next frame is grabbed into the one the
  // preview had, which a grab fills whole.
  void Hand(std::vector<BYTE>& bits, const BITMAPINFOHEADER& format) {
    std::lock_guard<std::mutex> lock(slotMutex_);
    if (slotBits_.size() == bits.size())
      slotBits_.swap(bits);
    else
      slotBits_ = bits;
    slotFormat_ = format;
    ++slotSequence_;
  }

  // UI thread: shows the latest frame when a new one has arrived.
  void OnTimer() {
    JoinEndedGrabber();
    {
      std::lock_guard<std::mutex> lock(slotMutex_);
      if (slotSequence_ == paintedSequence_) return;
      paintedSequence_ = slotSequence_;
      PictureFromDib(slotBits_.data(), slotFormat_, picture_);
    }
    PaintPicture();
    ++previewPictures_;
  }

  void PaintPicture() {
    if (!Widget()) return;
    QImage& surface = Surface();
    QPainter painter(&surface);
    if (picture_.isNull() || !Showing()) {
      painter.fillRect(surface.rect(), Qt::black);
    } else if (scale_) {
      painter.drawImage(surface.rect(), picture_);
    } else {
      painter.fillRect(surface.rect(), Qt::black);
      painter.drawImage(0, 0, picture_);
    }
    painter.end();
    SurfaceChanged();
  }

  void Shutdown() {
    if (OnGrabbingThread()) return;
    if (session_) StopGrabber();
    session_.reset();
    driver_.reset();
    driverIndex_ = -1;
    timer_.reset();
  }

  // UI thread state.
  std::shared_ptr<CaptureDriver> driver_;
  std::unique_ptr<CaptureSession> session_;
  int driverIndex_ = -1;
  CAPTUREPARMS parms_;
  bool preview_ = false, overlay_ = false, scale_ = false;
  UINT previewRateMs_ = 66;
  Mode mode_ = Mode::kNone;
  std::thread thread_;
  std::unique_ptr<QTimer> timer_;
  QImage picture_;
  std::uint64_t paintedSequence_ = 0;
  std::uint64_t previewPictures_ = 0;
  bool lost_ = false;  // the device went away; nothing is grabbed from it again
  bool lostReported_ = false;
  CAPERRORCALLBACK errorCallback_ = nullptr;
  std::string lostText_;

  // Shared with the grabbing thread.
  std::atomic<LPARAM> userData_{0};
  std::atomic<CAPVIDEOCALLBACK> callback_{nullptr};
  std::mutex callbackMutex_;  // held while the callback runs
  std::atomic<bool> stop_{false}, running_{false}, showWanted_{false};
  std::atomic<bool> gone_{false};  // set by the grabbing thread before it ends
  std::atomic<std::thread::id> grabberId_{};
  std::atomic<std::uint64_t> framesDelivered_{0};
  WakeFd wake_;
  std::mutex slotMutex_;
  std::vector<BYTE> slotBits_;
  BITMAPINFOHEADER slotFormat_{};
  std::uint64_t slotSequence_ = 0;
};

// Capture windows are owned here; one whose window is gone is deleted on a later turn of the event
// loop (never inside its own message handling). The table is never destroyed: a window still open
// at exit must not be torn down after the application object.
std::mutex g_windowsMutex;
auto* const g_windows = new std::vector<std::unique_ptr<CCaptureWindow>>;

void ReapDestroyedWindows() {
  std::vector<std::unique_ptr<CCaptureWindow>> gone;
  {
    std::lock_guard<std::mutex> lock(g_windowsMutex);
    auto it = std::stable_partition(g_windows->begin(), g_windows->end(),
                                    [](const auto& w) { return w->GetSafeHwnd() != nullptr; });
    std::move(it, g_windows->end(), std::back_inserter(gone));
    g_windows->erase(it, g_windows->end());
  }
}

void ReapLater() {
  if (qApp)
    QMetaObject::invokeMethod(
        qApp, [] { ReapDestroyedWindows(); }, Qt::QueuedConnection);
}

// Capture windows whose device went away, told by grabbing threads to the UI thread: a list under a
// lock, and a descriptor that a notifier on the UI thread watches. The UI thread looks each window
// up by its handle, so a window destroyed meanwhile is simply not found. Made on the UI thread with
// the first capture window, and never destroyed, as the window table.
class LossPosts {
 public:
  LossPosts() : notifier_(wake_.Fd(), QSocketNotifier::Read) {
    QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { Deliver(); });
  }
  void Post(HWND hwnd) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending_.push_back(hwnd);
    }
    wake_.Wake();
  }

 private:
  void Deliver() {
    wake_.Clear();
    std::vector<HWND> pending;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending.swap(pending_);
    }
    for (const HWND hwnd : pending)
      if (auto* window = dynamic_cast<CCaptureWindow*>(CWnd::FromHandle(hwnd))) window->OnLost();
  }

  WakeFd wake_;
  QSocketNotifier notifier_;
  std::mutex mutex_;
  std::vector<HWND> pending_;
};

LossPosts& Losses() {
  static auto* const posts = new LossPosts;
  return *posts;
}

void PostLoss(HWND hwnd) { Losses().Post(hwnd); }

}  // namespace

HWND capCreateCaptureWindowA(LPCSTR title, DWORD style, int x, int y, int width, int height, HWND parent,
                             int) {
  ReapDestroyedWindows();
  Losses();  // made here, on the UI thread, before any grabbing thread can post
  CWnd* parentWnd = nullptr;
  if (parent) {
    parentWnd = CWnd::FromHandle(parent);
    if (!parentWnd) return nullptr;
  }
  auto window = std::make_unique<CCaptureWindow>();
  if (!window->Ready() || !window->CreateEx(style, x, y, width, height, parentWnd)) return nullptr;
  if (title && *title) window->Widget()->setWindowTitle(QString::fromLocal8Bit(title));
  window->WatchWidget();
  const HWND hwnd = window->GetSafeHwnd();
  std::lock_guard<std::mutex> lock(g_windowsMutex);
  g_windows->push_back(std::move(window));
  return hwnd;
}

BOOL GetCaptureWindowInfo(HWND hwnd, CaptureWindowInfo* info) {
  auto* window = dynamic_cast<CCaptureWindow*>(CWnd::FromHandle(hwnd));
  if (!window || !info) return FALSE;
  window->Info(info);
  return TRUE;
}
