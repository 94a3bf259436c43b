// Template 205: the capture device dialog.
#pragma once

#include "platform/ui/dialog.h"

constexpr int IDD_SELECT_DEVICE = 205;
constexpr int IDC_DEVICE_COMBO = 213;

const DialogTemplate& SelectDeviceDialogTemplate();
