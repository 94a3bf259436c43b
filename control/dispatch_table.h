// The control's dispatch interface: thirty methods by DISPID and name.
#pragma once

#include "platform/com/dispatch.h"

class CQuelvoraCtrl;

// The rows of the interface, in DISPID order (AboutBox last, DISPID_ABOUTBOX).
DispatchTable QuelvoraDispatchTable();

// Calls a method of the control by DISPID with arguments in call order.
HRESULT InvokeQuelvora(CQuelvoraCtrl& control, DISPID dispid, const DISPPARAMS& params, VARIANT* result,
                       EXCEPINFO* excepInfo, UINT* argErr);
