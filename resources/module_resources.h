// The resources of the control's module: the dialog templates (About 1, full-screen view 202,
// capture device 205), the user type name (string 1), the toolbox bitmap and the icon (1 each),
// the version block and the type library (TYPELIB 1).
#pragma once

#include "platform/kernel/resource.h"
#include "platform/kernel/version.h"

// The resource handle of the module that holds this code (the control's module, or a program
// the control is linked into).
HINSTANCE AfxGetResourceHandle();

const VersionInfo& QuelvoraVersionInfo();
