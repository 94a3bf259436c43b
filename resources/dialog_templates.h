// The dialog templates of the control.
#pragma once

#include "platform/ui/dialog.h"

// Template 1: "About Oskavelle ActiveX Control".
const DialogTemplate& AboutDialogTemplate();

// Template 202: the full-screen view, a borderless popup without controls (its size is replaced by
// the screen's when it opens).
const DialogTemplate& FullScreenDialogTemplate();
