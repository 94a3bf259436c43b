// A receiving control end to end: real sockets on loopback, the real decoder, Qt offscreen.
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstring>
#include <thread>

#include "control/error_table.h"
#include "display/full_screen_dlg.h"
#include "net/learned_address.h"
#include "net/receive_tick.h"
#include "net/shared_socket.h"
#include "net/udp_socket.h"
#include "platform/ui/modal.h"
#include "platform/ui/msgbox.h"
#include "tests/net/datagram_builder.h"
#include "tests/net/recv_fixture.h"

using namespace winsock;
using test_stream::Bytes;

namespace {

TEST_F(ReceivingControl, StartsAndStopsOnceWithTheirErrorIDs) {
  EXPECT_FALSE(ctrl->StopRecv());
  EXPECT_EQ(ctrl->GetErrorID(), ERR_NOT_RECEIVING);
  ASSERT_TRUE(ctrl->RecvVideo());
  EXPECT_FALSE(ctrl->RecvVideo());
  EXPECT_EQ(ctrl->GetErrorID(), ERR_ALREADY_RECEIVING);
  EXPECT_NE(ctrl->m_hRecvDC, nullptr);  // the second call's context replaced the first
  EXPECT_TRUE(ctrl->StopRecv());
  EXPECT_EQ(ctrl->m_sockRecv, INVALID_SOCKET);
  EXPECT_EQ(ctrl->m_sockAnnounce, INVALID_SOCKET);
  EXPECT_EQ(ctrl->m_hDrawDib, nullptr);
  EXPECT_EQ(ctrl->m_hRecvDC, nullptr);
  EXPECT_EQ(ctrl->m_xvidDecParam.handle, nullptr);
  // Stopped and started again, it receives again.
  EXPECT_TRUE(ctrl->RecvVideo());
}

TEST_F(ReceivingControl, ShowsAKeyFrameAfterItsLastFragmentAndNothingBefore) {
  const auto stream = test_stream::EncodeStream(352, 288, 3);
  ASSERT_TRUE(stream[0].bKeyFrame);
  ASSERT_TRUE(ctrl->RecvVideo());
  Pump(60);

  // A stream that starts with predicted frames is ignored.
  SendFrame(stream[1], 1);
  SendFrame(stream[2], 2);
  Pump(150);
  EXPECT_TRUE(IsIdleBlue(Screenshot(*ctrl), 176, 144));

  auto key = test_stream::Datagrams(stream[0], 3);
  ASSERT_GT(key.size(), 1u);
  for (std::size_t i = 0; i + 1 < key.size(); ++i) Send(key[i]);
  Pump(150);
  EXPECT_TRUE(IsIdleBlue(Screenshot(*ctrl), 176, 144));

  Send(key.back());
  test_stream::ReferenceDecoder reference(352, 288);
  const Bytes expected = reference.Decode(stream[0].bytes);
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(PumpUntil([&] { return Distance(Screenshot(*ctrl), expected, 352, 288) == 0; }));

  // StopRecv repaints the idle picture over the last frame.
  ASSERT_TRUE(ctrl->StopRecv());
  EXPECT_TRUE(PumpUntil([&] { return IsIdleBlue(Screenshot(*ctrl), 176, 144); }));
}

TEST_F(ReceivingControl, StretchesThePictureOverTheWindowOnTheReceiveSide) {
  const auto stream = test_stream::EncodeStream(176, 144, 1);
  ASSERT_EQ(ctrl->SetVideoOutFormat("QCIF"), 0);
  ctrl->SetBandwidth(250000, 2);
  ASSERT_TRUE(ctrl->RecvVideo());
  ctrl->MoveWindow(0, 0, 704, 576);
  Pump(50);
  EXPECT_EQ(ctrl->m_rcDraw.right, 704);
  EXPECT_EQ(ctrl->m_rcDraw.bottom, 576);
  SendFrame(stream[0], 1);
  test_stream::ReferenceDecoder reference(176, 144);
  const Bytes small = reference.Decode(stream[0].bytes);
  // Compare with the decoded picture scaled the same way, allowing for the filters' rounding.
  const QImage expected = Stretched(small, 176, 144, 704, 576);
  EXPECT_TRUE(PumpUntil([&] {
    const QImage shot = Screenshot(*ctrl);
    return !IsIdleBlue(shot, 700, 570) && SampledDistance(shot, expected) <= 6;
  }));
}

TEST_F(ReceivingControl, KeepsItsDrawingRectangleOnOtherSides) {
  ctrl->SetBandwidth(250000, 1);
  ASSERT_TRUE(ctrl->RecvVideo());
  ctrl->MoveWindow(0, 0, 500, 400);
  Pump(50);
  EXPECT_EQ(ctrl->m_rcDraw.right, 352);
  EXPECT_EQ(ctrl->m_rcDraw.bottom, 288);
}

TEST_F(ReceivingControl, ForwardsEveryDatagramUnchangedFromItsReceivePort) {
  const SOCKET collector = LoopbackSocket();
  extraSockets.push_back(collector);
  const long relay = ctrl->AddClient("127.0.0.1", static_cast<short>(BoundPort(collector)), nullptr, nullptr);
  ASSERT_EQ(relay, 1);
  ASSERT_TRUE(ctrl->Forward(0, relay));
  ASSERT_TRUE(ctrl->RecvVideo());

  const auto stream = test_stream::EncodeStream(352, 288, 1);
  std::vector<Bytes> sent = test_stream::Datagrams(stream[0], 9, "ab");
  sent.push_back(TestDatagram{0x80, true, 33, 10, 0xDDCCBBAA, {}}.Bytes());  // keep-alive
  sent.push_back(TestDatagram{0x84, true, 33, 10, 0xDDCCBBAA, {}}.Bytes());  // keep-alive with a name
  sent.push_back({0x12, 0x34, 0x56});                                        // garbage
  sent.push_back(Bytes(65507, 0xA5));                                        // the largest datagram
  for (const Bytes& d : sent) Send(d);
  Pump(200);
  const auto got = ReceiveAll(collector, 100);
  ASSERT_EQ(got.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(got[i].bytes, sent[i]) << i;
    EXPECT_EQ(ntohs(got[i].from.sin_port), port);
  }

  // The later forward to a destination wins; UnForward ends it whatever its source.
  ASSERT_TRUE(ctrl->Forward(5, relay));
  Send(sent[0]);
  Pump(100);
  EXPECT_TRUE(ReceiveAll(collector, 50).empty());
  ASSERT_TRUE(ctrl->Forward(0, relay));
  ASSERT_TRUE(ctrl->UnForward(7, relay));
  Send(sent[0]);
  Pump(100);
  EXPECT_TRUE(ReceiveAll(collector, 50).empty());
}

TEST_F(ReceivingControl, ASenderInTheTableIsShownOnlyWhenItIsTheShownClient) {
  const auto stream = test_stream::EncodeStream(352, 288, 1);
  ASSERT_EQ(ctrl->AddClient("127.0.0.1", static_cast<short>(senderPort), nullptr, nullptr), 1);
  ASSERT_TRUE(ctrl->RecvVideo());
  SendFrame(stream[0], 1);
  Pump(150);
  EXPECT_TRUE(IsIdleBlue(Screenshot(*ctrl), 176, 144));
  ASSERT_TRUE(ctrl->ShowClient(1));
  SendFrame(stream[0], 2);
  EXPECT_TRUE(PumpUntil([&] { return !IsIdleBlue(Screenshot(*ctrl), 176, 144); }));
  EXPECT_TRUE(ctrl->RemoveClientAll());
  EXPECT_EQ(ctrl->m_nShowClient, 0);
}

TEST_F(ReceivingControl, KeepAlivesAndAnnouncementsGoOutOnEveryTenthTick) {
  const SOCKET keepAlives = LoopbackSocket();
  const SOCKET announcements = LoopbackSocket();
  const SOCKET sendSocket = LoopbackSocket();
  extraSockets = {keepAlives, announcements, sendSocket};
  ctrl->m_sockSend = sendSocket;
  ctrl->m_endpoints.sendRemote.Store("127.0.0.1", BoundPort(keepAlives));
  // Announcements go to the receive-side remote port + 1.
  ctrl->m_endpoints.recvRemote.Store("127.0.0.1", static_cast<USHORT>(BoundPort(announcements) - 1));
  ctrl->m_headerCounters.Seed(0x1234, 0x00010000, 0xAABBCCDD);
  ASSERT_TRUE(ctrl->SetUserName("ab"));
  ASSERT_TRUE(ctrl->RecvVideo());
  ctrl->KillTimer(kRecvTimerID);

  for (int i = 0; i < 21; ++i) Tick(*ctrl);
  ctrl->KillTimer(kRecvTimerID);
  ctrl->m_sockSend = INVALID_SOCKET;
  const auto kept = ReceiveAll(keepAlives, 100);
  const auto named = ReceiveAll(announcements, 100);
  ASSERT_EQ(kept.size(), 3u);   // ticks 1, 11 and 21
  ASSERT_EQ(named.size(), 2u);  // ticks 10 and 20
  const Bytes keepAlive = {0x84, 0xA1, 0x12, 0x34, 0x00, 0x01, 0x00, 0x00, 0xDD, 0xCC, 0xBB, 0xAA, 'a', 'b',
                           0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,   0};
  EXPECT_EQ(kept[0].bytes, keepAlive);
  EXPECT_EQ(ntohs(kept[0].from.sin_port), BoundPort(sendSocket));
  const Bytes announcement = {0x80, 0x01, 0x10, 0x00, 'a', 'b', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(named[0].bytes, announcement);
  EXPECT_EQ(ntohs(named[0].from.sin_port), port + 1);
}

TEST_F(ReceivingControl, TwoReceivingControlsShareOneTickCount) {
  USHORT otherPort;
  auto other = MakeControl(&otherPort);
  const SOCKET collector = LoopbackSocket();
  const SOCKET sendA = LoopbackSocket();
  const SOCKET sendB = LoopbackSocket();
  extraSockets = {collector, sendA, sendB};
  for (auto [control, s] : {std::pair{ctrl.get(), sendA}, std::pair{other.get(), sendB}}) {
    control->m_sockSend = s;
    control->m_endpoints.sendRemote.Store("127.0.0.1", BoundPort(collector));
    control->m_endpoints.recvRemote.Store("127.0.0.1", static_cast<USHORT>(BoundPort(collector) - 1));
    ASSERT_TRUE(control->RecvVideo());
    control->KillTimer(kRecvTimerID);
  }
  // Alternating ticks: the first control counts 0, 2, 4 ... for keep-alives and 1, 3, 5 ... for
  // announcements, so every keep-alive is its and every announcement the other's.
  for (int i = 0; i < 10; ++i) {
    Tick(*ctrl);
    Tick(*other);
  }
  ctrl->KillTimer(kRecvTimerID);
  other->KillTimer(kRecvTimerID);
  const auto got = ReceiveAll(collector, 100);
  int keepAlivesA = 0, keepAlivesB = 0, announcementsB = 0, others = 0;
  for (const auto& r : got) {
    const USHORT from = ntohs(r.from.sin_port);
    if (r.bytes.size() == 12 && from == BoundPort(sendA))
      ++keepAlivesA;
    else if (r.bytes.size() == 12 && from == BoundPort(sendB))
      ++keepAlivesB;
    else if (r.bytes.size() == 20 && from == otherPort + 1)
      ++announcementsB;
    else
      ++others;
  }
  EXPECT_EQ(keepAlivesA, 2);
  EXPECT_EQ(keepAlivesB, 0);
  EXPECT_EQ(announcementsB, 2);
  EXPECT_EQ(others, 0);
  ctrl->m_sockSend = other->m_sockSend = INVALID_SOCKET;
}

TEST_F(ReceivingControl, SameSocketModeLearnsTheAddressOfANewPeer) {
  ASSERT_TRUE(ctrl->UseSameSocketForSendAndRecv(-1));
  ctrl->m_endpoints.recvRemote.Store("127.0.0.1", 1);
  ASSERT_EQ(ctrl->AddClient("127.0.0.1", static_cast<short>(senderPort), nullptr, nullptr), 1);
  ASSERT_TRUE(ctrl->RecvVideo());
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 1);
  Send({0x80, 0xA1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(PumpUntil([&] { return TheLearnedRemoteAddress().Flagged(); }));
  const Endpoint learned = ctrl->m_endpoints.recvRemote.Load();
  EXPECT_STREQ(learned.szIP, "127.0.0.1");
  EXPECT_EQ(learned.usPort, senderPort);
  ULONG address;
  USHORT learnedPort;
  ASSERT_TRUE(TheLearnedRemoteAddress().Take(&address, &learnedPort));
  EXPECT_EQ(ntohs(learnedPort), senderPort);
  // The same peer again teaches nothing.
  Send({0x80, 0xA1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  Pump(100);
  EXPECT_FALSE(TheLearnedRemoteAddress().Flagged());
  ASSERT_TRUE(ctrl->StopRecv());
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 0);
}

TEST_F(ReceivingControl, SameSocketModeDropsWhatWasQueuedBeforeReceivingStarted) {
  ASSERT_TRUE(ctrl->UseSameSocketForSendAndRecv(-1));
  const SOCKET shared = TheSharedSocketTable().Acquire(ctrl->m_endpoints.recvLocal);  // as a sender would
  ASSERT_FALSE(IsNoSocket(shared));
  const SOCKET collector = LoopbackSocket();
  extraSockets.push_back(collector);
  ASSERT_EQ(ctrl->AddClient("127.0.0.1", static_cast<short>(BoundPort(collector)), nullptr, nullptr), 1);
  ASSERT_TRUE(ctrl->Forward(0, 1));
  Send({1, 2, 3});
  Send({4, 5, 6});
  Pump(50);
  ASSERT_TRUE(ctrl->RecvVideo());
  EXPECT_EQ(ctrl->m_sockRecv, shared);
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 2);
  Send({7, 8, 9});
  Pump(150);
  const auto got = ReceiveAll(collector, 100);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].bytes, (Bytes{7, 8, 9}));
  ASSERT_TRUE(ctrl->StopRecv());
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 1);
  TheSharedSocketTable().Release();
}

TEST_F(ReceivingControl, AFailedStartGivesBackWhatItTookSoThatALaterStartWorks) {
  const int descriptors = OpenDescriptorCount();
  ctrl->m_endpoints.recvLocal.Store("192.0.2.1", port);  // not an address of this host
  ClearRecordedMessageBoxes();
  EXPECT_FALSE(ctrl->RecvVideo());
  EXPECT_TRUE(RecordedMessageBoxes().empty());
  ctrl->ShowErrorDialog(1);
  EXPECT_FALSE(ctrl->RecvVideo());
  ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
  EXPECT_EQ(RecordedMessageBoxes()[0].text, kTextRecvSocketFailed);
  EXPECT_EQ(ctrl->GetErrorID(), ERR_NONE);

  // An output size beyond the picture buffer is refused when receiving starts.
  ctrl->m_endpoints.recvLocal.Store("127.0.0.1", port);
  ASSERT_TRUE(ctrl->UseSameSocketForSendAndRecv(-1));
  ASSERT_EQ(ctrl->SetVideoOutFormat("16CIF"), 0);
  EXPECT_FALSE(ctrl->RecvVideo());
  EXPECT_FALSE(ctrl->m_bReceiving);
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 0);
  EXPECT_EQ(ctrl->m_sockAnnounce, INVALID_SOCKET);
  EXPECT_EQ(ctrl->m_hDrawDib, nullptr);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);

  ASSERT_EQ(ctrl->SetVideoOutFormat("4CIF"), 0);
  EXPECT_TRUE(ctrl->RecvVideo());
  EXPECT_EQ(ctrl->m_xvidDecParam.width, 704);
}

TEST_F(ReceivingControl, AFloodDoesNotHoldTheUserInterface) {
  // Each datagram is relayed ten times, so the control cannot keep up with the sender.
  const SOCKET sink = LoopbackSocket();
  extraSockets.push_back(sink);
  for (int i = 0; i < 10; ++i) {
    const long id = ctrl->AddClient("127.0.0.1", static_cast<short>(BoundPort(sink)), nullptr, nullptr);
    ASSERT_TRUE(ctrl->Forward(0, id));
  }
  ASSERT_TRUE(ctrl->RecvVideo());
  std::atomic<bool> stop{false};
  const SOCKET flooder = LoopbackSocket();
  extraSockets.push_back(flooder);
  std::thread flood([&] {
    const Bytes d = TestDatagram{0x80, false, 33, 1, 1000000, Bytes(700, 1)}.Bytes();
    while (!stop) SendBytes(flooder, d, inet_addr("127.0.0.1"), port);
  });
  int beats = 0;
  QTimer heart;
  QObject::connect(&heart, &QTimer::timeout, [&] { ++beats; });
  heart.start(20);
  Pump(1500);
  stop = true;
  flood.join();
  EXPECT_GE(beats, 5);
}

TEST_F(ReceivingControl, TheFullScreenViewGetsThePicturesWhileItIsOpen) {
  const auto stream = test_stream::EncodeStream(352, 288, 2);
  ASSERT_TRUE(ctrl->RecvVideo());
  CFullScreenDlg view;
  test_stream::ReferenceDecoder reference(352, 288);
  const Bytes picture = reference.Decode(stream[0].bytes);
  bool viewDrawn = false, controlIdle = false;
  SetModalHook([&](const ModalInfo&, ModalAnswer&) {
    ctrl->m_pFullScreenDlg = &view;
    ctrl->m_bFullScreen = 1;
    SendFrame(stream[0], 1);
    // The picture is stretched over the whole view.
    viewDrawn = PumpUntil([&] {
      const QImage shot = Screenshot(view);
      return SampledDistance(shot, Stretched(picture, 352, 288, shot.width(), shot.height())) <= 6;
    });
    controlIdle = IsIdleBlue(Screenshot(*ctrl), 176, 144);
    view.EndDialog(0);
  });
  view.DoModal();
  SetModalHook({});
  ctrl->m_bFullScreen = 0;
  ctrl->m_pFullScreenDlg = nullptr;
  EXPECT_TRUE(viewDrawn);
  EXPECT_TRUE(controlIdle);
  SendFrame(stream[1], 2);
  EXPECT_TRUE(PumpUntil([&] { return !IsIdleBlue(Screenshot(*ctrl), 176, 144); }));
}

}  // namespace

namespace {

TEST_F(ReceivingControl, OnlyTimer100001IsTheReceiveLoop) {
  // An idle control: a stray timer message arms nothing.
  SendMessage(ctrl->GetSafeHwnd(), WM_TIMER, 7, 0);
  EXPECT_FALSE(ctrl->KillTimer(kRecvTimerID));
  // A receiving control: another timer's message reads nothing; the receive loop's does.
  ASSERT_TRUE(ctrl->RecvVideo());
  ASSERT_TRUE(ctrl->KillTimer(kRecvTimerID));
  const auto stream = test_stream::EncodeStream(176, 144, 1);
  SendFrame(stream[0], 1);
  SendMessage(ctrl->GetSafeHwnd(), WM_TIMER, 7, 0);
  EXPECT_EQ(ctrl->m_nDatagramsReceived, 0u);
  EXPECT_FALSE(ctrl->KillTimer(kRecvTimerID));
  Tick(*ctrl);
  EXPECT_GT(ctrl->m_nDatagramsReceived, 0u);
  EXPECT_TRUE(ctrl->KillTimer(kRecvTimerID));
}

// However many controls of the process receive, one round of their ticks reads for no longer than
// one control's tick alone would.
TEST_F(ReceivingControl, ReceivingControlsShareOneDrainBudget) {
  ASSERT_TRUE(ctrl->RecvVideo());
  std::vector<std::unique_ptr<CQuelvoraCtrl>> others;
  for (int i = 0; i < 9; ++i) {
    USHORT otherPort;
    others.push_back(MakeControl(&otherPort));
    ASSERT_TRUE(others.back()->RecvVideo());
  }
  EXPECT_EQ(TheReceiveTickCounters().DrainBudgetMs(), kRecvDrainBudgetMs / 10);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(others[i]->StopRecv());
  EXPECT_EQ(TheReceiveTickCounters().DrainBudgetMs(), kRecvDrainBudgetMs / 6);
  others.clear();  // destroyed while receiving
  EXPECT_EQ(TheReceiveTickCounters().DrainBudgetMs(), kRecvDrainBudgetMs);
  ASSERT_TRUE(ctrl->StopRecv());
  EXPECT_EQ(TheReceiveTickCounters().DrainBudgetMs(), kRecvDrainBudgetMs);
}

}  // namespace
