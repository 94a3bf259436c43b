// The dialog templates of the control.
#pragma once

#include "platform/ui/dialog.h"

// Template 1: "About Oskavelle ActiveX Control".
const DialogTemplate& AboutDialogTemplate();
