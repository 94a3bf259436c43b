// The module side of component creation: class factories, the module's lock count, the answers
// of a module's DllGetClassObject and DllCanUnloadNow, and the registration helper that writes
// the standard entries of a control class.
#pragma once

#include <string>

#include "platform/com/unknwn.h"

// Live objects and LockServer locks of this module. An object made by a factory takes one lock
// for its lifetime (AfxOleLockApp in its constructor, AfxOleUnlockApp in its destructor).
void AfxOleLockApp();
void AfxOleUnlockApp();
LONG AfxOleLockCount();

// An object's lock as a member: taken when construction reaches the member and given back when
// the object goes, also when a constructor that throws (out of memory) never completes.
class CModuleLock {
 public:
  CModuleLock() { AfxOleLockApp(); }
  ~CModuleLock() { AfxOleUnlockApp(); }
  CModuleLock(const CModuleLock&) = delete;
  CModuleLock& operator=(const CModuleLock&) = delete;
};

// One creatable class of this module. Factories are static objects: each joins the module's list
// when constructed and leaves it when destroyed.
class COleObjectFactory : public IClassFactory {
 public:
  // Makes a new object holding one reference, which the factory hands on or releases; nullptr
  // when it cannot (CreateInstance then answers E_OUTOFMEMORY). It must not throw.
  using CreateFunction = IUnknown* (*)();

  COleObjectFactory(REFCLSID clsid, LPCSTR progId, CreateFunction create);
  virtual ~COleObjectFactory();
  COleObjectFactory(const COleObjectFactory&) = delete;
  COleObjectFactory& operator=(const COleObjectFactory&) = delete;

  REFCLSID GetClassID() const { return m_clsid; }
  LPCSTR GetProgID() const { return m_progId.c_str(); }

  // Writes (TRUE) or removes (FALSE) the class's registry entries.
  virtual BOOL UpdateRegistry(BOOL bRegister) = 0;
  // UpdateRegistry on every factory of the module; FALSE at the first that fails.
  static BOOL UpdateRegistryAll(BOOL bRegister);
  // This module's factory for a class, or nullptr.
  static COleObjectFactory* Find(REFCLSID clsid);

  // IClassFactory. The factory lives as long as the module, so references count nothing.
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT LockServer(BOOL lock) override;

 private:
  CLSID m_clsid;
  std::string m_progId;
  CreateFunction m_create;
};

// The standard answers of a module's exports.
HRESULT AfxDllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
// S_OK when no object of the module lives and no lock is held, else S_FALSE.
HRESULT AfxDllCanUnloadNow();

// The file of the module that holds `address` (a function or object of that module).
std::string AfxGetModuleFileName(const void* address);

constexpr int afxRegDefault = 0x0000;
constexpr int afxRegInsertable = 0x0001;
constexpr int afxRegApartmentThreading = 0x0002;

// Writes the standard entries of a control class:
//   HKCR\CLSID\{clsid}                 = typeName
//                     \ProgID          = progId
//                     \InprocServer32  = modulePath, "ThreadingModel" = "Apartment" (with
//                                        afxRegApartmentThreading)
//                     \ToolboxBitmap32 = "<modulePath>, <bitmapId>"
//                     \MiscStatus      = "0",  \MiscStatus\1 = miscStatus in decimal
//                     \Control, \Insertable (with afxRegInsertable)
//                     \TypeLib         = {libid},  \Version = "<major>.<minor>"
//   HKCR\<progId>                      = typeName,  \CLSID = {clsid}
// FALSE when the registry cannot be written.
BOOL AfxOleRegisterControlClass(const std::string& modulePath, REFCLSID clsid, LPCSTR progId, LPCSTR typeName,
                                UINT bitmapId, int regFlags, DWORD miscStatus, REFGUID libid,
                                WORD majorVersion, WORD minorVersion);
// Removes HKCR\CLSID\{clsid} and HKCR\<progId> with everything below them; keys already gone are
// not an error. FALSE when the registry cannot be written.
BOOL AfxOleUnregisterClass(REFCLSID clsid, LPCSTR progId);
