// The class factory of the control and the module's self-registration.
#pragma once

#include "platform/module/factory.h"

// The one factory of the module: class ID, ProgID "QUELVORA.QuelvoraCtrl.1", not single-instance.
COleObjectFactory& QuelvoraFactory();

// What DllRegisterServer and DllUnregisterServer answer: the type library embedded in the module,
// then every factory's registry entries. S_OK, SELFREG_E_TYPELIB or SELFREG_E_CLASS.
HRESULT QuelvoraRegisterServer();
HRESULT QuelvoraUnregisterServer();
