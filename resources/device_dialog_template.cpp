#include "resources/device_dialog_template.h"

#include "platform/ui/msgbox.h"

const DialogTemplate& SelectDeviceDialogTemplate() {
  static const DialogTemplate t = [] {
    using K = DialogControl::Kind;
    DialogTemplate d;
    d.caption = "Select Video Capture Device";
    d.style = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    d.cx = 187;
    d.cy = 76;
    d.fontFace = "System";
    d.pointSize = 10;
    d.controls = {
        {IDOK, K::DefPushButton, "OK", 27, 55, 50, 14, WS_TABSTOP, {}},
        {IDCANCEL, K::PushButton, "Cancel", 96, 55, 50, 14, WS_TABSTOP, {}},
        {-1, K::Static, "Video Capture Device:", 7, 12, 121, 8, 0, {}},
        {IDC_DEVICE_COMBO,
         K::ComboBox,
         "",
         7,
         25,
         173,
         30,
         CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP,
         {}},
    };
    return d;
  }();
  return t;
}
