// Finding and creating classes: ProgID to class ID through the registry, the class object of a
// class (built in, or from the in-process server its registry entry names, loaded with dlopen
// and asked through its DllGetClassObject), and the unloading of servers no longer in use.
#pragma once

#include <string>

#include "platform/com/unknwn.h"

// The exports of an in-process server module.
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, void**);
using LPFNCANUNLOADNOW = HRESULT (*)();
using LPFNREGISTERSERVER = HRESULT (*)();

// Marks a module export (the module is built with hidden visibility otherwise).
#define QV_DLL_EXPORT extern "C" __attribute__((visibility("default")))

// HKCR\<progId>\CLSID; CO_E_CLASSSTRING when the ProgID is not registered or holds no class ID.
HRESULT CLSIDFromProgID(LPCSTR progId, CLSID* clsid);
// HKCR\CLSID\{clsid}\ProgID; REGDB_E_CLASSNOTREG when there is none.
HRESULT ProgIDFromCLSID(REFCLSID clsid, std::string* progId);

// The class object of a class: the built-in classes (the component categories manager), else the
// module named by HKCR\CLSID\{clsid}\InprocServer32, loaded once and kept until
// CoFreeUnusedLibraries. Results: REGDB_E_CLASSNOTREG (no in-process server registered, or
// clsctx without CLSCTX_INPROC_SERVER), CO_E_DLLNOTFOUND (the module does not load),
// CO_E_ERRORINDLL (it has no DllGetClassObject), or what DllGetClassObject answers.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, void* reserved, REFIID riid, void** ppv);
// CoGetClassObject, then IClassFactory::CreateInstance.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID riid, void** ppv);
// CLSIDFromProgID, then CoCreateInstance in process.
HRESULT CoCreateInstanceFromProgID(LPCSTR progId, REFIID riid, void** ppv);

// Unloads every loaded module whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();
// Whether the module at this path is loaded now by CoGetClassObject.
bool CoIsModuleLoaded(const std::string& path);
// What the last failed module load reported (dlopen's message), for diagnostics.
std::string CoLastLoadError();
