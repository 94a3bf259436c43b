// The component categories manager: category descriptions under "Component Categories" and the
// categories a class implements under its class key. Created like any class, through
// CoCreateInstance(CLSID_StdComponentCategoriesMgr, ..., IID_ICatRegister, ...).
#pragma once

#include <string>

#include "platform/com/bstr.h"
#include "platform/com/unknwn.h"

using LCID = DWORD;

struct CATEGORYINFO {
  CATID catid;
  LCID lcid;
  OLECHAR szDescription[128];  // at most 127 characters and a NUL
};

// {0002E005-0000-0000-C000-000000000046}
inline constexpr CLSID CLSID_StdComponentCategoriesMgr{
    0x0002E005, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {0002E012-0000-0000-C000-000000000046}
inline constexpr IID IID_ICatRegister{
    0x0002E012, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {7DD95801-9882-11CF-9FA9-00AA006C42C4}
inline constexpr CATID CATID_SafeForScripting{
    0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
// {7DD95802-9882-11CF-9FA9-00AA006C42C4}
inline constexpr CATID CATID_SafeForInitializing{
    0x7DD95802, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};

struct ICatRegister : IUnknown {
  static constexpr const IID& iid = IID_ICatRegister;
  // Writes HKCR\Component Categories\{catid}, value "<lcid in hex>" = description.
  virtual HRESULT RegisterCategories(ULONG count, const CATEGORYINFO* categories) = 0;
  // Removes HKCR\Component Categories\{catid} with all its descriptions.
  virtual HRESULT UnRegisterCategories(ULONG count, const CATID* catids) = 0;
  // Creates HKCR\CLSID\{clsid}\Implemented Categories\{catid}.
  virtual HRESULT RegisterClassImplCategories(REFCLSID clsid, ULONG count, const CATID* catids) = 0;
  // Removes those keys; a mark that is not there is not an error.
  virtual HRESULT UnRegisterClassImplCategories(REFCLSID clsid, ULONG count, const CATID* catids) = 0;

 protected:
  ~ICatRegister() = default;
};

// The class object of the manager, for CoGetClassObject.
IClassFactory* StdComponentCategoriesMgrClassObject();

// Failure injection for tests: the manager's creation fails, or the n-th call (counted from when
// the faults were set, 1 = the first) of one of its methods fails, with `result` and without
// touching the registry. Setting faults resets the count; a default-constructed value clears them.
struct CatRegisterFaults {
  bool failCreation = false;
  std::string failMethod;  // "RegisterCategories", "RegisterClassImplCategories", ...
  int failOnCall = 1;
  HRESULT result = E_FAIL;
};
void SetCatRegisterFaultsForTesting(const CatRegisterFaults& faults);
