// Self-registration of the control's module, read back from the registry file.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/com/comcat.h"
#include "platform/com/typelib.h"
#include "tests/module/module_fixture.h"

namespace {

class RegistrationTest : public ModuleTest {
 protected:
  void TearDown() override {
    SetCatRegisterFaultsForTesting({});
    ModuleTest::TearDown();
  }
  static bool LibraryRegistered() {
    std::string path;
    return SUCCEEDED(QueryPathOfRegTypeLib(*GUIDFromString(kLibidText), 1, 0, 0, &path)) &&
           path == kModulePath;
  }
};

TEST_F(RegistrationTest, WritesTheControlClassTheLibraryAndBothCategories) {
  ASSERT_EQ(RunExport("DllRegisterServer"), S_OK);

  EXPECT_EQ(Get(kClassKey), "Quelvora Control");
  EXPECT_EQ(Get(kClassKey + "\\ProgID"), kProgId);
  EXPECT_EQ(Get(kProgId), "Quelvora Control");
  EXPECT_EQ(Get(kProgId + "\\CLSID"), kClsidText);
  EXPECT_EQ(Get(kClassKey + "\\InprocServer32"), kModulePath);
  EXPECT_EQ(Get(kClassKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(Get(kClassKey + "\\ToolboxBitmap32"), kModulePath + ", 1");
  EXPECT_EQ(Get(kClassKey + "\\MiscStatus"), "0");
  EXPECT_EQ(Get(kClassKey + "\\MiscStatus\\1"), "131473");
  EXPECT_EQ(Get(kClassKey + "\\TypeLib"), kLibidText);
  EXPECT_EQ(Get(kClassKey + "\\Version"), "1.0");
  EXPECT_TRUE(Has(kClassKey + "\\Control"));
  EXPECT_FALSE(Has(kClassKey + "\\Insertable"));
  EXPECT_TRUE(Has(kClassKey + "\\Implemented Categories\\" + kScriptingCat));
  EXPECT_TRUE(Has(kClassKey + "\\Implemented Categories\\" + kInitializingCat));
  EXPECT_EQ(Get("Component Categories\\" + kScriptingCat, "409"), "Controls that are safely scriptable");
  EXPECT_EQ(Get("Component Categories\\" + kInitializingCat, "409"),
            "Controls safely initializable from persistent data");

  const std::string lib = "TypeLib\\" + kLibidText + "\\1.0";
  EXPECT_EQ(Get(lib), "Quelvora ActiveX Control module");
  EXPECT_TRUE(LibraryRegistered());
  EXPECT_EQ(Get("Interface\\{3C8E4A53-7B2D-4F19-A6C3-5E1D9B0F7A21}"), "_DQuelvora");
  EXPECT_EQ(Get("Interface\\{3C8E4A54-7B2D-4F19-A6C3-5E1D9B0F7A21}"), "_DQuelvoraEvents");
  EXPECT_EQ(Get("Interface\\{3C8E4A53-7B2D-4F19-A6C3-5E1D9B0F7A21}\\TypeLib"), kLibidText);

  // Registering again changes nothing.
  const std::string before = [&] {
    std::ifstream in(file_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  ASSERT_EQ(RunExport("DllRegisterServer"), S_OK);
  std::ifstream in(file_);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
}

TEST_F(RegistrationTest, UnregistrationLeavesOnlyTheCategoryDefinitions) {
  ASSERT_EQ(RunExport("DllRegisterServer"), S_OK);
  ASSERT_EQ(RunExport("DllUnregisterServer"), S_OK);
  EXPECT_FALSE(Has(kClassKey));
  EXPECT_FALSE(Has(kProgId));
  EXPECT_FALSE(Has("TypeLib\\" + kLibidText));
  EXPECT_FALSE(Has("Interface\\{3C8E4A53-7B2D-4F19-A6C3-5E1D9B0F7A21}"));
  EXPECT_EQ(Get("Component Categories\\" + kScriptingCat, "409"), "Controls that are safely scriptable");
  EXPECT_TRUE(Has("Component Categories\\" + kInitializingCat));
  // With the library gone a second unregistration stops at its first step.
  EXPECT_EQ(RunExport("DllUnregisterServer"), SELFREG_E_TYPELIB);
}

TEST_F(RegistrationTest, WithoutACategoryManagerTheClassIsNotWrittenButTheLibraryIs) {
  CatRegisterFaults faults;
  faults.failCreation = true;
  SetCatRegisterFaultsForTesting(faults);
  EXPECT_EQ(RunExport("DllRegisterServer"), SELFREG_E_CLASS);
  EXPECT_FALSE(Has(kClassKey));
  EXPECT_FALSE(Has(kProgId));
  EXPECT_FALSE(Has("Component Categories\\" + kScriptingCat));
  EXPECT_TRUE(LibraryRegistered());
}

TEST_F(RegistrationTest, AFailedFirstMarkRemovalKeepsTheClassEntries) {
  ASSERT_EQ(RunExport("DllRegisterServer"), S_OK);
  CatRegisterFaults faults;
  faults.failMethod = "UnRegisterClassImplCategories";
  faults.failOnCall = 1;
  SetCatRegisterFaultsForTesting(faults);
  EXPECT_EQ(RunExport("DllUnregisterServer"), SELFREG_E_CLASS);
  EXPECT_EQ(Get(kClassKey + "\\ProgID"), kProgId);
  EXPECT_EQ(Get(kProgId + "\\CLSID"), kClsidText);
  EXPECT_TRUE(Has(kClassKey + "\\Implemented Categories\\" + kScriptingCat));
  EXPECT_TRUE(Has(kClassKey + "\\Implemented Categories\\" + kInitializingCat));
  // The library went in the step before.
  EXPECT_FALSE(LibraryRegistered());
}

TEST_F(RegistrationTest, AFailedSecondCategoryStepStopsBeforeTheClass) {
  CatRegisterFaults faults;
  faults.failMethod = "RegisterCategories";
  faults.failOnCall = 2;
  SetCatRegisterFaultsForTesting(faults);
  EXPECT_EQ(RunExport("DllRegisterServer"), SELFREG_E_CLASS);
  EXPECT_TRUE(Has(kClassKey + "\\Implemented Categories\\" + kScriptingCat));
  EXPECT_FALSE(Has("Component Categories\\" + kInitializingCat));
  EXPECT_FALSE(Has(kProgId));
}

TEST_F(RegistrationTest, ARegistryThatCannotBeWrittenFailsAtTheLibrary) {
  {
    std::ofstream out(file_);
    out << "not a registry\n";
  }
  EXPECT_EQ(RunExport("DllRegisterServer"), SELFREG_E_TYPELIB);
  std::ifstream in(file_);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not a registry\n");
}

}  // namespace
