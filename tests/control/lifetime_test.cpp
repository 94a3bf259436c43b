// The control as a component object: the interfaces it answers, and a last reference given up
// while one of its own calls runs (a script destroying it from a box or view that call shows).
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "control/dispatch_table.h"
#include "control/quelvora_ctrl.h"
#include "control/quelvora_factory.h"
#include "control/quelvora_ids.h"
#include "platform/module/factory.h"
#include "platform/ui/modal.h"
#include "platform/ui/msgbox.h"

namespace {

class ControlLifetime : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearRecordedMessageBoxes();
    before_ = AfxOleLockCount();
    ASSERT_EQ(QuelvoraFactory().CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&ctrl_)),
              S_OK);
  }
  void TearDown() override {
    SetModalHook({});
    if (ctrl_) ctrl_->Release();
    EXPECT_EQ(AfxOleLockCount(), before_) << "a control was left alive";
  }

  // Releases the container's one reference from inside the first modal the call shows, and notes
  // whether the control still lived just after.
  void ReleaseFromTheFirstModal(const std::function<void(ModalAnswer&)>& close) {
    SetModalHook([this, close](const ModalInfo&, ModalAnswer& answer) {
      if (released_) return;
      released_ = true;
      IDispatch* last = std::exchange(ctrl_, nullptr);
      last->Release();
      aliveInside_ = AfxOleLockCount() > before_;
      close(answer);
    });
  }

  IDispatch* ctrl_ = nullptr;  // one reference, as a container holds it
  LONG before_ = 0;
  bool released_ = false;
  bool aliveInside_ = false;
};

TEST_F(ControlLifetime, AnswersItsOwnDispatchInterfaceIDButNotItsEventInterface) {
  void* viaDiid = nullptr;
  ASSERT_EQ(ctrl_->QueryInterface(DIID__DQuelvora, &viaDiid), S_OK);
  EXPECT_EQ(viaDiid, static_cast<void*>(ctrl_));
  static_cast<IDispatch*>(viaDiid)->Release();
  void* events = nullptr;
  EXPECT_EQ(ctrl_->QueryInterface(DIID__DQuelvoraEvents, &events), E_NOINTERFACE);
  EXPECT_EQ(events, nullptr);
}

TEST_F(ControlLifetime, ReleasedFromTheBoxOfItsOwnAddClientItLivesUntilTheCallReturns) {
  IDispatch* const raw = ctrl_;
  ReleaseFromTheFirstModal([](ModalAnswer& answer) { answer.PressButton("OK"); });
  DISPID id = DISPID_UNKNOWN;
  ASSERT_EQ(raw->GetIDsOfNames("AddClient", &id), S_OK);
  DISPPARAMS params;
  params.rgvarg = {CComVariant(u"127.0.0.1"), CComVariant(LONG{4000}), CComVariant(u"/no/such/folder/x.avi"),
                   CComVariant(u"peer")};
  CComVariant result;
  ASSERT_EQ(raw->Invoke(id, params, &result, nullptr, nullptr), S_OK);
  EXPECT_TRUE(released_);
  EXPECT_TRUE(aliveInside_) << "deleted while AddClient was still running";
  EXPECT_EQ(result.lVal, 1);
  EXPECT_EQ(RecordedMessageBoxes().size(), 2u);
  EXPECT_EQ(AfxOleLockCount(), before_) << "not deleted when the call returned";
}

TEST_F(ControlLifetime, ReleasedFromItsFullScreenViewItLivesUntilTheViewCloses) {
  ASSERT_TRUE(static_cast<CQuelvoraCtrl*>(ctrl_)->CreateControlWindow(nullptr, RECT{0, 0, 352, 288}));
  IDispatch* const raw = ctrl_;
  ReleaseFromTheFirstModal([](ModalAnswer& answer) { answer.SendKey(VK_ESCAPE); });
  DISPPARAMS none;
  ASSERT_EQ(raw->Invoke(15 /* ShowFullScreen */, none, nullptr, nullptr, nullptr), S_OK);
  EXPECT_TRUE(released_);
  EXPECT_TRUE(aliveInside_);
  EXPECT_EQ(AfxOleLockCount(), before_);
}

}  // namespace
