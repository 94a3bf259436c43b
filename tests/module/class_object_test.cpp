// The control made through the module's class factory, as a container makes it.
#include <gtest/gtest.h>

#include "platform/ui/olecontrol.h"
#include "tests/module/module_fixture.h"

namespace {

class ClassObjectTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    ASSERT_EQ(RunExport("DllRegisterServer"), S_OK);
  }
  static CLSID Clsid() { return *GUIDFromString(kClsidText); }
  // The module's own unload answer, from the copy CoGetClassObject loaded.
  static LPFNCANUNLOADNOW CanUnloadNow() {
    void* h = dlopen(kModulePath.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return nullptr;
    const auto fn = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(h, "DllCanUnloadNow"));
    dlclose(h);
    return fn;
  }
};

TEST_F(ClassObjectTest, TheModuleCanUnloadOnlyWhenNoControlLivesAndNoLockIsHeld) {
  CComPtr<IClassFactory> factory;
  ASSERT_EQ(
      CoGetClassObject(Clsid(), CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.ReceiveVoid()),
      S_OK)
      << CoLastLoadError();
  const LPFNCANUNLOADNOW canUnload = CanUnloadNow();
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_OK);

  CComPtr<IDispatch> first;
  CComPtr<IDispatch> second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, first.ReceiveVoid()), S_OK);
  // Not single-instance: every request makes a control of its own.
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, second.ReceiveVoid()), S_OK);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(canUnload(), S_FALSE);
  first.Release();
  EXPECT_EQ(canUnload(), S_FALSE);
  second.Release();
  EXPECT_EQ(canUnload(), S_OK);

  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(canUnload(), S_FALSE);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(canUnload(), S_OK);

  IUnknown* outer = reinterpret_cast<IUnknown*>(factory.get());
  CComPtr<IDispatch> aggregated;
  EXPECT_EQ(factory->CreateInstance(outer, IID_IDispatch, aggregated.ReceiveVoid()), CLASS_E_NOAGGREGATION);
  factory.Release();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(CoIsModuleLoaded(kModulePath));
}

TEST_F(ClassObjectTest, TheControlAnswersThroughDispatchAndTellsItsClass) {
  CComPtr<IDispatch> ctrl;
  ASSERT_EQ(CoCreateInstanceFromProgID(kProgId.c_str(), IID_IDispatch, ctrl.ReceiveVoid()), S_OK)
      << CoLastLoadError();
  CComVariant result;
  ASSERT_EQ(Call(ctrl.get(), "sendvideo", {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  EXPECT_EQ(result.boolVal, VARIANT_FALSE);
  ASSERT_EQ(Call(ctrl.get(), "GetErrorID", {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I2);
  EXPECT_EQ(result.iVal, 4);
  EXPECT_EQ(Call(ctrl.get(), "SetSendFrameRate", {}, &result), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(ctrl.get(), "Record", {}, &result), DISP_E_UNKNOWNNAME);

  CComPtr<IOleObject> object;
  ASSERT_EQ(ctrl->QueryInterface(IID_IOleObject, object.ReceiveVoid()), S_OK);
  CLSID clsid{};
  ASSERT_EQ(object->GetUserClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, Clsid());
  std::string name;
  ASSERT_EQ(object->GetUserType(USERCLASSTYPE_FULL, &name), S_OK);
  EXPECT_EQ(name, "Quelvora Control");
  DWORD misc = 0;
  ASSERT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
  EXPECT_EQ(misc, 131473u);
  EXPECT_EQ(object->DoVerb(0, nullptr, nullptr), OLEOBJ_E_INVALIDVERB);
  CComPtr<IOleWindow> window;
  ASSERT_EQ(ctrl->QueryInterface(IID_IOleWindow, window.ReceiveVoid()), S_OK);
  HWND hwnd = nullptr;
  EXPECT_EQ(window->GetWindow(&hwnd), E_FAIL);  // not placed on a form yet
}

TEST_F(ClassObjectTest, TheTypeLibraryIsLoadedByItsRegistrationOnceAndKept) {
  CComPtr<IDispatch> ctrl;
  ASSERT_EQ(CoCreateInstanceFromProgID(kProgId.c_str(), IID_IDispatch, ctrl.ReceiveVoid()), S_OK);
  auto* control = static_cast<COleControl*>(ctrl.get());
  EXPECT_EQ(control->GetTypeInfoCount(), 1u);
  CComPtr<ITypeLib> lib;
  ASSERT_EQ(control->GetTypeLib(1033, lib.Receive()), S_OK);
  EXPECT_EQ(lib->Description().name, "QUELVORALib");
  EXPECT_EQ(lib->Description().majorVersion, 1);
  EXPECT_EQ(lib->Description().minorVersion, 0);

  // Kept by library ID: once loaded, the library no longer needs its registration.
  ASSERT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ("TypeLib\\" + kLibidText).c_str()), ERROR_SUCCESS);
  CComPtr<ITypeLib> again;
  ASSERT_EQ(control->GetTypeLib(0, again.Receive()), S_OK);
  EXPECT_EQ(again.get(), lib.get());
}

}  // namespace
