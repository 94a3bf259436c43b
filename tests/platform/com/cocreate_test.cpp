// Creating a class by ProgID from a module found through the registry, as a container does.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/com/dispatch.h"
#include "platform/com/objbase.h"
#include "platform/com/registry.h"
#include "registry_fixture.h"

namespace {

const std::string kModule = std::filesystem::absolute(QV_TEST_COM_MODULE).string();
const char* const kProgId = "QvTest.Counter.1";
const std::string kClsidKey = "CLSID\\{5B0E6F3A-2C1D-4E8B-9A7F-1D2C3B4A5968}";

class CoCreateTest : public RegistryFileTest {
 protected:
  void SetUp() override {
    RegistryFileTest::SetUp();
    ASSERT_EQ(RunExport("DllRegisterServer"), S_OK);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    unsetenv("QUELVORA_CODEPAGE");
    RegistryFileTest::TearDown();
  }

  // Calls a registration export the way a registration tool does: load, call, unload.
  static HRESULT RunExport(const char* name) {
    void* h = dlopen(kModule.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) return CO_E_DLLNOTFOUND;
    const auto fn = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(h, name));
    const HRESULT hr = fn ? fn() : CO_E_ERRORINDLL;
    dlclose(h);
    return hr;
  }

  static HRESULT Call(IDispatch* d, std::string_view name, std::vector<CComVariant> args,
                      CComVariant* result) {
    DISPID id = DISPID_UNKNOWN;
    if (const HRESULT hr = d->GetIDsOfNames(name, &id); FAILED(hr)) return hr;
    DISPPARAMS p{std::move(args)};
    return d->Invoke(id, p, result, nullptr, nullptr);
  }
};

TEST_F(CoCreateTest, TheModuleRegistersItselfWithItsOwnPath) {
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, kClsidKey + "\\InprocServer32"), kModule);
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, kClsidKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, kClsidKey + "\\ToolboxBitmap32"), kModule + ", 1");
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, std::string(kProgId) + "\\CLSID"),
            "{5B0E6F3A-2C1D-4E8B-9A7F-1D2C3B4A5968}");
}

TEST_F(CoCreateTest, CreatesByProgIdAndCallsThroughDispatch) {
  // Read by the module when it first converts a text, after it is loaded below.
  setenv("QUELVORA_CODEPAGE", "936", 1);
  CComPtr<IDispatch> counter;
  ASSERT_EQ(CoCreateInstanceFromProgID(kProgId, IID_IDispatch, counter.ReceiveVoid()), S_OK)
      << CoLastLoadError();
  EXPECT_TRUE(CoIsModuleLoaded(kModule));
  CComVariant result;
  ASSERT_EQ(Call(counter.get(), "add", {CComVariant(SHORT{5})}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
  ASSERT_EQ(Call(counter.get(), "Add", {CComVariant(u"7")}, &result), S_OK);
  EXPECT_EQ(Call(counter.get(), "Add", {CComVariant(LONG{40000})}, &result), DISP_E_OVERFLOW);
  ASSERT_EQ(Call(counter.get(), "TOTAL", {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 12);
  // The module hands texts on in its ANSI code page: two GB2312 characters are four bytes.
  ASSERT_EQ(Call(counter.get(), "LabelBytes", {CComVariant(u"\u4e2d\u6587")}, &result), S_OK);
  EXPECT_EQ(result.lVal, 4);
  EXPECT_EQ(Call(counter.get(), "Subtract", {}, &result), DISP_E_UNKNOWNNAME);

  // A second object is a second counter.
  CComPtr<IDispatch> other;
  ASSERT_EQ(CoCreateInstance(*GUIDFromString("{5B0E6F3A-2C1D-4E8B-9A7F-1D2C3B4A5968}"), nullptr, CLSCTX_ALL,
                             IID_IDispatch, other.ReceiveVoid()),
            S_OK);
  ASSERT_EQ(Call(other.get(), "Total", {}, &result), S_OK);
  EXPECT_EQ(result.lVal, 0);
}

TEST_F(CoCreateTest, TheModuleStaysLoadedWhileAnObjectLives) {
  CComPtr<IDispatch> counter;
  ASSERT_EQ(CoCreateInstanceFromProgID(kProgId, IID_IDispatch, counter.ReceiveVoid()), S_OK);
  void* h = dlopen(kModule.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(h, nullptr);
  const auto canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(h, "DllCanUnloadNow"));
  dlclose(h);
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_FALSE);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(CoIsModuleLoaded(kModule));
  counter.Release();
  EXPECT_EQ(canUnload(), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_FALSE(CoIsModuleLoaded(kModule));
}

TEST_F(CoCreateTest, UnregisteredOrBrokenEntriesFailWithTheirResults) {
  void* p = this;
  EXPECT_EQ(CoCreateInstanceFromProgID("QvTest.Nothing.1", IID_IDispatch, &p), CO_E_CLASSSTRING);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "QvTest.Garbled.1\\CLSID", {}, "not a guid"), ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstanceFromProgID("QvTest.Garbled.1", IID_IDispatch, &p), CO_E_CLASSSTRING);

  // A class ID with no in-process server, with a missing file, with a library that is no server.
  const std::string bare = "{00000001-0000-0000-0000-0000000000AB}";
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "CLSID\\" + bare, {}, "bare"), ERROR_SUCCESS);
  const CLSID bareId = *GUIDFromString(bare);
  EXPECT_EQ(CoCreateInstance(bareId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &p), REGDB_E_CLASSNOTREG);
  ASSERT_EQ(
      RegSetString(HKEY_CLASSES_ROOT, "CLSID\\" + bare + "\\InprocServer32", {}, (dir_ / "gone.so").string()),
      ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(bareId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &p), CO_E_DLLNOTFOUND);
  EXPECT_NE(CoLastLoadError().find("gone.so"), std::string::npos);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "CLSID\\" + bare + "\\InprocServer32", {}, "libm.so.6"),
            ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(bareId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &p), CO_E_ERRORINDLL);

  // Only in-process servers exist; an interface the class lacks is refused.
  CLSID counter;
  ASSERT_EQ(CLSIDFromProgID(kProgId, &counter), S_OK);
  EXPECT_EQ(CoCreateInstance(counter, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, &p), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(counter, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
}

TEST_F(CoCreateTest, AfterUnregistrationTheProgIdIsGone) {
  ASSERT_EQ(RunExport("DllUnregisterServer"), S_OK);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kClsidKey));
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstanceFromProgID(kProgId, IID_IDispatch, &p), CO_E_CLASSSTRING);
}

}  // namespace
