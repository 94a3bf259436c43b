#include <gtest/gtest.h>

#include <fstream>

#include "platform/com/comcat.h"
#include "platform/com/dispatch.h"
#include "platform/com/objbase.h"
#include "platform/com/registry.h"
#include "platform/com/typelib.h"
#include "platform/module/factory.h"
#include "registry_fixture.h"

namespace {

// {11111111-2222-3333-4444-555555555555}
constexpr CLSID kClsid{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr GUID kLibid{0x11111112, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr IID kIid{0x11111113, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr IID kEventsIid{0x11111114, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
const std::string kClsidKey = "CLSID\\{11111111-2222-3333-4444-555555555555}";

constexpr HRESULT kDenied = static_cast<HRESULT>(0x80070005u);
const std::string kScripting = "Component Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}";

class CategoriesTest : public RegistryFileTest {
 protected:
  void TearDown() override {
    SetCatRegisterFaultsForTesting({});
    RegistryFileTest::TearDown();
  }
  static HRESULT Create(CComPtr<ICatRegister>& out) {
    return CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                            out.ReceiveVoid());
  }
  static CATEGORYINFO Info(REFGUID catid, std::u16string_view text) {
    CATEGORYINFO info{catid, 1033, {}};
    text.copy(info.szDescription, 127);
    return info;
  }
};

TEST_F(CategoriesTest, WritesDescriptionsByLocaleAndClassMarks) {
  CComPtr<ICatRegister> cat;
  ASSERT_EQ(Create(cat), S_OK);
  const CATEGORYINFO info = Info(CATID_SafeForScripting, u"Controls that are safely scriptable");
  ASSERT_EQ(cat->RegisterCategories(1, &info), S_OK);
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, kScripting, "409"), "Controls that are safely scriptable");

  ASSERT_EQ(cat->RegisterClassImplCategories(kClsid, 1, &CATID_SafeForInitializing), S_OK);
  const std::string mark = kClsidKey + "\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, mark));
  ASSERT_EQ(cat->UnRegisterClassImplCategories(kClsid, 1, &CATID_SafeForInitializing), S_OK);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, mark));
  EXPECT_EQ(cat->UnRegisterClassImplCategories(kClsid, 1, &CATID_SafeForInitializing), S_OK);

  ASSERT_EQ(cat->UnRegisterCategories(1, &CATID_SafeForScripting), S_OK);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kScripting));
}

TEST_F(CategoriesTest, DescriptionStopsAt127CharactersEvenWithoutTerminator) {
  CComPtr<ICatRegister> cat;
  ASSERT_EQ(Create(cat), S_OK);
  CATEGORYINFO info{CATID_SafeForScripting, 0x804, {}};
  for (OLECHAR& c : info.szDescription) c = u'x';  // no NUL anywhere
  ASSERT_EQ(cat->RegisterCategories(1, &info), S_OK);
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, kScripting, "804"), std::string(127, 'x'));
}

TEST_F(CategoriesTest, InjectedFailuresStopTheCallAndTouchNothing) {
  SetCatRegisterFaultsForTesting({true, "", 1, REGDB_E_CLASSNOTREG});
  CComPtr<ICatRegister> cat;
  EXPECT_EQ(Create(cat), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(cat);

  SetCatRegisterFaultsForTesting({false, "RegisterClassImplCategories", 2, kDenied});
  ASSERT_EQ(Create(cat), S_OK);
  EXPECT_EQ(cat->RegisterClassImplCategories(kClsid, 1, &CATID_SafeForScripting), S_OK);
  EXPECT_EQ(cat->RegisterClassImplCategories(kClsid, 1, &CATID_SafeForInitializing), kDenied);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT,
                            kClsidKey + "\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}"));
  // Only the n-th call fails, and each fresh manager counts on.
  CComPtr<ICatRegister> another;
  ASSERT_EQ(Create(another), S_OK);
  EXPECT_EQ(another->RegisterClassImplCategories(kClsid, 1, &CATID_SafeForInitializing), S_OK);
}

using TypeLibTest = RegistryFileTest;

TypeLibRegistration Library(LCID lcid = 0) {
  TypeLibRegistration lib;
  lib.libid = kLibid;
  lib.lcid = lcid;
  lib.name = "TESTLib";
  lib.helpString = "Test control module";
  lib.path = "/opt/test/lib/test.so";
  lib.interfaces = {{kIid, "_DTest"}, {kEventsIid, "_DTestEvents"}};
  return lib;
}

TEST_F(TypeLibTest, RegistersLibraryAndInterfacesAndUnregistersThemAgain) {
  ASSERT_EQ(RegisterTypeLib(Library()), S_OK);
  const std::string v = "TypeLib\\{11111112-2222-3333-4444-555555555555}\\1.0";
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, v), "Test control module");
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, v + "\\FLAGS"), "0");
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, v + "\\HELPDIR"), "/opt/test/lib");
  std::string path;
  ASSERT_EQ(QueryPathOfRegTypeLib(kLibid, 1, 0, 0, &path), S_OK);
  EXPECT_EQ(path, "/opt/test/lib/test.so");
  const std::string i = "Interface\\{11111113-2222-3333-4444-555555555555}";
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, i), "_DTest");
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, i + "\\ProxyStubClsid32"),
            "{00020420-0000-0000-C000-000000000046}");
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, i + "\\TypeLib"), "{11111112-2222-3333-4444-555555555555}");
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, i + "\\TypeLib", "Version"), "1.0");
  // An interface of some other library stays.
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "Interface\\{OTHER}\\TypeLib", {},
                         "{99999999-2222-3333-4444-555555555555}"),
            ERROR_SUCCESS);

  ASSERT_EQ(UnRegisterTypeLib(kLibid, 1, 0, 0), S_OK);
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "TypeLib\\{11111112-2222-3333-4444-555555555555}"));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, i));
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, "Interface\\{OTHER}"));
  EXPECT_EQ(QueryPathOfRegTypeLib(kLibid, 1, 0, 0, &path), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(UnRegisterTypeLib(kLibid, 1, 0, 0), TYPE_E_REGISTRYACCESS);
}

TEST_F(TypeLibTest, AnotherLocaleKeepsTheVersionRegistered) {
  ASSERT_EQ(RegisterTypeLib(Library(0)), S_OK);
  ASSERT_EQ(RegisterTypeLib(Library(0x409)), S_OK);
  ASSERT_EQ(UnRegisterTypeLib(kLibid, 1, 0, 0), S_OK);
  std::string path;
  EXPECT_EQ(QueryPathOfRegTypeLib(kLibid, 1, 0, 0x409, &path), S_OK);
  EXPECT_EQ(QueryPathOfRegTypeLib(kLibid, 1, 0, 0, &path), TYPE_E_LIBNOTREGISTERED);
}

TEST_F(TypeLibTest, RegistrationFailsWithoutPathOrWritableRegistry) {
  TypeLibRegistration lib = Library();
  lib.path.clear();
  EXPECT_EQ(RegisterTypeLib(lib), E_INVALIDARG);
  std::ofstream(dir_ / "blocker") << "x";
  setenv("QUELVORA_REGISTRY", (dir_ / "blocker" / "registry").c_str(), 1);
  EXPECT_EQ(RegisterTypeLib(Library()), TYPE_E_REGISTRYACCESS);
}

using ControlClassTest = RegistryFileTest;

TEST_F(ControlClassTest, WritesTheStandardEntriesOfAControlClass) {
  ASSERT_TRUE(AfxOleRegisterControlClass("/opt/q/quelvora.so", kClsid, "TEST.TestCtrl.1", "Test Control", 1,
                                         afxRegApartmentThreading, 131473, kLibid, 1, 0));
  const auto at = [&](const std::string& sub, std::string_view value = {}) {
    return RegGetString(HKEY_CLASSES_ROOT, kClsidKey + sub, value);
  };
  EXPECT_EQ(at(""), "Test Control");
  EXPECT_EQ(at("\\ProgID"), "TEST.TestCtrl.1");
  EXPECT_EQ(at("\\InprocServer32"), "/opt/q/quelvora.so");
  EXPECT_EQ(at("\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(at("\\ToolboxBitmap32"), "/opt/q/quelvora.so, 1");
  EXPECT_EQ(at("\\MiscStatus"), "0");
  EXPECT_EQ(at("\\MiscStatus\\1"), "131473");
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, kClsidKey + "\\Control"));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kClsidKey + "\\Insertable"));
  EXPECT_EQ(at("\\TypeLib"), "{11111112-2222-3333-4444-555555555555}");
  EXPECT_EQ(at("\\Version"), "1.0");
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "TEST.TestCtrl.1"), "Test Control");
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "TEST.TestCtrl.1\\CLSID"),
            "{11111111-2222-3333-4444-555555555555}");
  CLSID found;
  ASSERT_EQ(CLSIDFromProgID("test.testctrl.1", &found), S_OK);
  EXPECT_EQ(found, kClsid);
  std::string progId;
  ASSERT_EQ(ProgIDFromCLSID(kClsid, &progId), S_OK);
  EXPECT_EQ(progId, "TEST.TestCtrl.1");
}

TEST_F(ControlClassTest, UnregisterRemovesClassAndProgIdOnly) {
  ASSERT_TRUE(AfxOleRegisterControlClass("/m.so", kClsid, "TEST.TestCtrl.1", "Test", 1, afxRegDefault, 0,
                                         kLibid, 1, 0));
  EXPECT_FALSE(RegGetString(HKEY_CLASSES_ROOT, kClsidKey + "\\InprocServer32", "ThreadingModel"));
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, kClsidKey + "\\Implemented Categories\\{C}", {}, ""),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, "CLSID\\{OTHER}", {}, "stays"), ERROR_SUCCESS);
  EXPECT_TRUE(AfxOleUnregisterClass(kClsid, "TEST.TestCtrl.1"));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, kClsidKey));
  EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, "TEST.TestCtrl.1"));
  EXPECT_EQ(RegGetString(HKEY_CLASSES_ROOT, "CLSID\\{OTHER}"), "stays");
  EXPECT_TRUE(AfxOleUnregisterClass(kClsid, "TEST.TestCtrl.1"));
  CLSID found;
  EXPECT_EQ(CLSIDFromProgID("TEST.TestCtrl.1", &found), CO_E_CLASSSTRING);
}

TEST_F(ControlClassTest, ReportsAnUnwritableRegistry) {
  std::ofstream(dir_ / "blocker") << "x";
  setenv("QUELVORA_REGISTRY", (dir_ / "blocker" / "registry").c_str(), 1);
  EXPECT_FALSE(AfxOleRegisterControlClass("/m.so", kClsid, "TEST.TestCtrl.1", "Test", 1, afxRegDefault, 0,
                                          kLibid, 1, 0));
  EXPECT_FALSE(AfxOleUnregisterClass(kClsid, "TEST.TestCtrl.1"));
}

// An object of a linked-in factory: it holds a module lock while it lives.
class CThing final : public CUnknownImpl<IDispatch> {
 public:
  CThing() { AfxOleLockApp(); }
  ~CThing() override { AfxOleUnlockApp(); }
  HRESULT GetIDsOfNames(std::string_view, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID, const DISPPARAMS&, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
};

class CThingFactory final : public COleObjectFactory {
 public:
  CThingFactory(REFCLSID clsid, BOOL answer)
      : COleObjectFactory(clsid, "TEST.Thing.1", &Make), m_answer(answer) {}
  static IUnknown* Make() { return static_cast<IDispatch*>(new CThing); }
  BOOL UpdateRegistry(BOOL bRegister) override {
    m_calls.push_back(bRegister);
    return m_answer;
  }
  BOOL m_answer;
  std::vector<BOOL> m_calls;
};

TEST(FactoryTest, CreatesObjectsAndAnswersUnloadByLocks) {
  CThingFactory factory(kClsid, TRUE);
  ASSERT_EQ(AfxDllCanUnloadNow(), S_OK);
  CComPtr<IClassFactory> cf;
  ASSERT_EQ(AfxDllGetClassObject(kClsid, IID_IClassFactory, cf.ReceiveVoid()), S_OK);
  EXPECT_EQ(cf.get(), static_cast<IClassFactory*>(&factory));
  void* none = &factory;
  EXPECT_EQ(AfxDllGetClassObject(kLibid, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);

  CComPtr<IDispatch> object;
  ASSERT_EQ(cf->CreateInstance(nullptr, IID_IDispatch, object.ReceiveVoid()), S_OK);
  EXPECT_EQ(AfxDllCanUnloadNow(), S_FALSE);
  object.Release();
  EXPECT_EQ(AfxDllCanUnloadNow(), S_OK);

  // Refused creations leave no object behind.
  void* p = &factory;
  EXPECT_EQ(cf->CreateInstance(static_cast<IUnknown*>(&factory), IID_IDispatch, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(cf->CreateInstance(nullptr, IID_ICatRegister, &p), E_NOINTERFACE);
  EXPECT_EQ(AfxDllCanUnloadNow(), S_OK);

  ASSERT_EQ(cf->LockServer(TRUE), S_OK);
  EXPECT_EQ(AfxDllCanUnloadNow(), S_FALSE);
  ASSERT_EQ(cf->LockServer(FALSE), S_OK);
  EXPECT_EQ(AfxDllCanUnloadNow(), S_OK);
}

TEST(FactoryTest, UpdateRegistryAllStopsAtTheFirstFailure) {
  CThingFactory good(kClsid, TRUE);
  CThingFactory bad(kLibid, FALSE);
  CThingFactory after(kIid, TRUE);
  EXPECT_FALSE(COleObjectFactory::UpdateRegistryAll(TRUE));
  EXPECT_EQ(good.m_calls, std::vector<BOOL>{TRUE});
  EXPECT_EQ(bad.m_calls, std::vector<BOOL>{TRUE});
  EXPECT_TRUE(after.m_calls.empty());
  bad.m_answer = TRUE;
  EXPECT_TRUE(COleObjectFactory::UpdateRegistryAll(FALSE));
  EXPECT_EQ(after.m_calls, std::vector<BOOL>{FALSE});
  EXPECT_EQ(COleObjectFactory::Find(kLibid), &bad);
}

}  // namespace
