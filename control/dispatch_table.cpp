#include "control/dispatch_table.h"

#include "control/quelvora_ctrl.h"

namespace {

using C = CQuelvoraCtrl;

// clang-format off
constexpr DispatchEntry kQuelvoraMethods[] = {
  {1, "CloseCapture", {}, VT_BOOL, &Bind<&C::CloseCapture>},
  {2, "InitCapture", {VT_I2}, VT_BOOL, &Bind<&C::InitCapture>},
  {3, "SendVideo", {}, VT_BOOL, &Bind<&C::SendVideo>},
  {4, "StopSend", {}, VT_BOOL, &Bind<&C::StopSend>},
  {5, "RecvVideo", {}, VT_BOOL, &Bind<&C::RecvVideo>},
  {6, "StopRecv", {}, VT_BOOL, &Bind<&C::StopRecv>},
  {7, "GetErrorMessage", {VT_I2}, VT_EMPTY, &Bind<&C::GetErrorMessage>},
  {8, "GetErrorID", {}, VT_I2, &Bind<&C::GetErrorID>},
  {9, "SetLocalIPAddress", {VT_BSTR, VT_I2}, VT_BOOL, &Bind<&C::SetLocalIPAddress>},
  {10, "SetBandwidth", {VT_I4, VT_I4}, VT_EMPTY, &Bind<&C::SetBandwidth>},
  {11, "SetRemoteIPAddress", {VT_BSTR, VT_I2}, VT_I4, &Bind<&C::SetRemoteIPAddress>},
  {12, "SetUserName", {VT_BSTR}, VT_BOOL, &Bind<&C::SetUserName>},
  {13, "SetLanguageVersion", {VT_I2}, VT_BOOL, &Bind<&C::SetLanguageVersion>},
  {14, "HaveVideoCapture", {}, VT_BOOL, &Bind<&C::HaveVideoCapture>},
  {15, "ShowFullScreen", {}, VT_EMPTY, &Bind<&C::ShowFullScreen>},
  {16, "SetSendFrameRate", {VT_I2}, VT_BOOL, &Bind<&C::SetSendFrameRate>},
  {17, "SetVideoInFormat", {VT_BSTR}, VT_I2, &Bind<&C::SetVideoInFormat>},
  {18, "SetVideoOutFormat", {VT_BSTR}, VT_I2, &Bind<&C::SetVideoOutFormat>},
  {19, "SetCompressType", {VT_BSTR}, VT_BOOL, &Bind<&C::SetCompressType>},
  {20, "UseSameSocketForSendAndRecv", {VT_I4}, VT_BOOL, &Bind<&C::UseSameSocketForSendAndRecv>},
  {21, "SendFakeVideo", {VT_I2}, VT_BOOL, &Bind<&C::SendFakeVideo>},
  {22, "AddClient", {VT_BSTR, VT_I2, VT_BSTR, VT_BSTR}, VT_I4, &Bind<&C::AddClient>},
  {23, "RemoveClient", {VT_I4}, VT_BOOL, &Bind<&C::RemoveClient>},
  {24, "RemoveClientAll", {}, VT_BOOL, &Bind<&C::RemoveClientAll>},
  {25, "Forward", {VT_I4, VT_I4}, VT_BOOL, &Bind<&C::Forward>},
  {26, "UnForward", {VT_I4, VT_I4}, VT_BOOL, &Bind<&C::UnForward>},
  {27, "UnForwardAll", {}, VT_BOOL, &Bind<&C::UnForwardAll>},
  {28, "ShowClient", {VT_I4}, VT_BOOL, &Bind<&C::ShowClient>},
  {29, "ShowErrorDialog", {VT_I2}, VT_EMPTY, &Bind<&C::ShowErrorDialog>},
  {DISPID_ABOUTBOX, "AboutBox", {}, VT_EMPTY, &Bind<&C::AboutBox>},
};
// clang-format on
static_assert(IsValidDispatchTable<CQuelvoraCtrl>(kQuelvoraMethods));

}  // namespace

DispatchTable QuelvoraDispatchTable() { return kQuelvoraMethods; }

HRESULT InvokeQuelvora(CQuelvoraCtrl& control, DISPID dispid, const DISPPARAMS& params, VARIANT* result,
                       EXCEPINFO* excepInfo, UINT* argErr) {
  return Invoke(DispatchTable(kQuelvoraMethods), &control, dispid, params, result, excepInfo, argErr);
}
