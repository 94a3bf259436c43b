#include "resources/dialog_templates.h"

#include "control/about_dlg.h"
#include "platform/ui/msgbox.h"
#include "resources/embedded_files.h"

const DialogTemplate& AboutDialogTemplate() {
  static const DialogTemplate t = [] {
    using K = DialogControl::Kind;
    DialogTemplate d;
    d.caption = "About Oskavelle ActiveX Control";
    d.style = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    d.cx = 251;
    d.cy = 84;
    d.fontFace = "MS Sans Serif";
    d.pointSize = 12;
    d.controls = {
        // The module's icon (its 32 x 32 image is the first).
        {-1, K::Icon, "", 10, 10, 20, 20, 0,
         std::vector<unsigned char>(kEmbedded_quelvora_ico, kEmbedded_quelvora_ico + kEmbedded_quelvora_ico_size)},
        {IDC_ABOUT_TITLE, K::Static, "Oskavelle ActiveX Control", 40, 10, 170, 8, 0, {}},
        {IDC_ABOUT_VERSION, K::Static, "Version 3.3", 40, 25, 170, 8, 0, {}},
        {-1, K::Static, "Video conferencing for scripts and forms", 40, 40, 200, 8, 0, {}},
        {-1, K::EtchedLine, "", 7, 55, 237, 1, SS_ETCHEDHORZ, {}},
        {IDOK, K::DefPushButton, "OK", 194, 63, 50, 14, WS_TABSTOP, {}},
    };
    return d;
  }();
  return t;
}

const DialogTemplate& FullScreenDialogTemplate() {
  static const DialogTemplate t = [] {
    DialogTemplate d;
    d.style = WS_POPUP | DS_SETFONT;
    d.cx = 187;
    d.cy = 103;
    d.fontFace = "System";
    d.pointSize = 10;
    return d;
  }();
  return t;
}
