// The resources the module carries, read from the built module as another program reads them.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include "control/dispatch_table.h"
#include "control/quelvora_ids.h"
#include "platform/com/typelib_load.h"
#include "platform/kernel/version.h"
#include "platform/ui/dialog.h"
#include "tests/module/module_fixture.h"

namespace {

class ModuleResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(kModulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    const auto resources = reinterpret_cast<LPFNMODULERESOURCES>(dlsym(handle_, kModuleResourcesExport));
    ASSERT_NE(resources, nullptr);
    module_ = resources();
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
  }
  QByteArray Bytes(UINT id, LPCSTR type) const {
    const HRSRC r = FindResourceA(module_, id, type);
    if (!r) return {};
    return QByteArray(static_cast<const char*>(LoadResource(module_, r)),
                      static_cast<qsizetype>(SizeofResource(module_, r)));
  }
  template <class T>
  const T* Structured(UINT id, LPCSTR type) const {
    return static_cast<const T*>(LoadResource(module_, FindResourceA(module_, id, type)));
  }

  void* handle_ = nullptr;
  HMODULE module_ = nullptr;
};

TEST_F(ModuleResourcesTest, DialogTemplatesAndTheUserTypeName) {
  const auto* about = Structured<DialogTemplate>(1, RT_DIALOG);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->caption, "About Oskavelle ActiveX Control");
  const auto* device = Structured<DialogTemplate>(205, RT_DIALOG);
  ASSERT_NE(device, nullptr);
  EXPECT_FALSE(device->controls.empty());
  const auto* fullScreen = Structured<DialogTemplate>(202, RT_DIALOG);
  ASSERT_NE(fullScreen, nullptr);
  EXPECT_TRUE(fullScreen->controls.empty());
  EXPECT_EQ(FindResourceA(module_, 203, RT_DIALOG), nullptr);

  char name[8];
  EXPECT_EQ(LoadStringA(module_, 1, name, sizeof name), 7);
  EXPECT_STREQ(name, "Quelvor");  // cut to the buffer
  EXPECT_EQ(LoadResourceString(module_, 1), "Quelvora Control");
  EXPECT_EQ(LoadStringA(module_, 2, name, sizeof name), 0);
}

TEST_F(ModuleResourcesTest, ToolboxBitmapAndIconAreSixteenColourImages) {
  QImage bitmap;
  ASSERT_TRUE(bitmap.loadFromData(Bytes(1, RT_BITMAP), "BMP"));
  EXPECT_EQ(bitmap.size(), QSize(16, 15));
  EXPECT_EQ(bitmap.colorCount(), 16);

  QByteArray ico = Bytes(1, "icon");  // types compare case-insensitively
  QBuffer buffer(&ico);
  QImageReader reader(&buffer, "ICO");
  ASSERT_TRUE(reader.canRead()) << reader.errorString().toStdString();
  EXPECT_EQ(reader.imageCount(), 2);
  std::vector<QSize> sizes;
  do {
    const QImage image = reader.read();
    ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
    sizes.push_back(image.size());
  } while (reader.jumpToNextImage());
  EXPECT_EQ(sizes, (std::vector<QSize>{QSize(32, 32), QSize(16, 16)}));
  // Four bits a pixel in the directory entries: 16 colours each.
  ASSERT_GE(ico.size(), 6 + 2 * 16);
  EXPECT_EQ(static_cast<unsigned char>(ico[6 + 2]), 16);
  EXPECT_EQ(static_cast<unsigned char>(ico[6 + 16 + 2]), 16);
}

TEST_F(ModuleResourcesTest, VersionBlock) {
  const auto* v = Structured<VersionInfo>(1, RT_VERSION);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(std::vector<WORD>(v->fileVersion, v->fileVersion + 4), (std::vector<WORD>{3, 3, 0, 29}));
  EXPECT_EQ(std::vector<WORD>(v->productVersion, v->productVersion + 4), (std::vector<WORD>{3, 3, 0, 29}));
  const auto get = [&](const char* name) {
    const char* s = VerQueryString(*v, std::string("\\StringFileInfo\\040904b0\\") + name);
    return s ? std::optional<std::string>(s) : std::nullopt;
  };
  EXPECT_EQ(get("FileVersion"), "3, 3, 0, 29");
  EXPECT_EQ(get("ProductVersion"), "3, 3, 0, 29");
  EXPECT_EQ(get("FileDescription"), "Oskavelle ActiveX Control Module");
  EXPECT_EQ(get("ProductName"), "Oskavelle ActiveX Control Module");
  EXPECT_EQ(get("InternalName"), "Oskavelle");
  EXPECT_EQ(get("OriginalFilename"), "Oskavelle.OCX");
  EXPECT_EQ(get("OLESelfRegister"), "");
  EXPECT_EQ(get("Comments"), "");
  EXPECT_EQ(get("SpecialBuild"), "");
  EXPECT_EQ(get("NoSuchValue"), std::nullopt);
  EXPECT_EQ(VerQueryString(*v, "\\StringFileInfo\\080404b0\\FileVersion"), nullptr);
}

TEST_F(ModuleResourcesTest, TheTypeLibraryDescribesTheDispatchTable) {
  TypeLibDescription lib;
  ASSERT_EQ(LoadTypeLibFromModule(kModulePath, 1, &lib), S_OK);
  EXPECT_EQ(lib.name, "QUELVORALib");
  EXPECT_EQ(lib.libid, LIBID_QUELVORALib);
  EXPECT_EQ(lib.majorVersion, 1);
  EXPECT_EQ(lib.minorVersion, 0);
  EXPECT_EQ(lib.helpString, "Quelvora ActiveX Control module");
  EXPECT_EQ(lib.helpFile, "Quelvora.hlp");

  const TypeLibTypeInfo* events = lib.Find("_DQuelvoraEvents");
  ASSERT_NE(events, nullptr);
  EXPECT_EQ(events->guid, DIID__DQuelvoraEvents);
  EXPECT_EQ(events->helpString, "Event interface for Quelvora Control");
  EXPECT_TRUE(events->funcs.empty());

  const TypeLibTypeInfo* coclass = lib.Find("Quelvora");
  ASSERT_NE(coclass, nullptr);
  EXPECT_EQ(coclass->kind, TypeKind::CoClass);
  EXPECT_EQ(coclass->guid, CLSID_Quelvora);
  EXPECT_EQ(coclass->helpString, "Quelvora Control");
  ASSERT_EQ(coclass->implTypes.size(), 2u);
  EXPECT_EQ(coclass->implTypes[0].name, "_DQuelvora");
  EXPECT_FALSE(coclass->implTypes[0].isSource);
  EXPECT_TRUE(coclass->implTypes[1].isSource);

  const TypeLibTypeInfo* dispatch = lib.Find("_DQuelvora");
  ASSERT_NE(dispatch, nullptr);
  EXPECT_EQ(dispatch->guid, DIID__DQuelvora);
  EXPECT_EQ(dispatch->helpString, "Dispatch interface for Quelvora Control");
  // Row by row the same members as the dispatch table the control answers with.
  const DispatchTable table = QuelvoraDispatchTable();
  ASSERT_EQ(dispatch->funcs.size(), table.size());
  for (size_t i = 0; i < table.size(); ++i) {
    const TypeLibFunc& f = dispatch->funcs[i];
    SCOPED_TRACE(f.name);
    EXPECT_EQ(f.dispid, table[i].dispid);
    EXPECT_EQ(f.name, table[i].name);
    EXPECT_EQ(f.result, table[i].result);
    ASSERT_EQ(f.params.size(), table[i].params.size());
    for (size_t p = 0; p < f.params.size(); ++p) {
      EXPECT_EQ(f.params[p].vt, table[i].params[p]);
      EXPECT_FALSE(f.params[p].name.empty());
    }
  }
}

}  // namespace
