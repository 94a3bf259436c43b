#include "platform/com/typelib_load.h"

#include <dlfcn.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "platform/kernel/resource.h"

namespace {

std::optional<VARTYPE> TypeOf(const QString& name) {
  if (name == "short") return VT_I2;
  if (name == "long") return VT_I4;
  if (name == "BSTR") return VT_BSTR;
  if (name == "BOOL") return VT_BOOL;
  if (name == "void") return VT_EMPTY;
  return std::nullopt;
}

std::optional<GUID> GuidOf(const QJsonValue& v) { return GUIDFromString(v.toString().toStdString()); }

std::optional<TypeLibFunc> FuncOf(const QJsonObject& o) {
  TypeLibFunc f;
  if (!o.value("dispid").isDouble()) return std::nullopt;
  f.dispid = o.value("dispid").toInt();
  f.name = o.value("name").toString().toStdString();
  const auto result = TypeOf(o.value("result").toString());
  if (f.name.empty() || !result) return std::nullopt;
  f.result = *result;
  for (const QJsonValue& p : o.value("params").toArray()) {
    const auto vt = TypeOf(p.toObject().value("type").toString());
    if (!vt || *vt == VT_EMPTY) return std::nullopt;
    f.params.push_back({*vt, p.toObject().value("name").toString().toStdString()});
  }
  return f;
}

std::optional<TypeLibTypeInfo> TypeInfoOf(const QJsonObject& o) {
  TypeLibTypeInfo t;
  const QString kind = o.value("kind").toString();
  if (kind == "dispinterface") {
    t.kind = TypeKind::DispInterface;
  } else if (kind == "coclass") {
    t.kind = TypeKind::CoClass;
  } else {
    return std::nullopt;
  }
  t.name = o.value("name").toString().toStdString();
  const auto guid = GuidOf(o.value("guid"));
  if (t.name.empty() || !guid) return std::nullopt;
  t.guid = *guid;
  t.helpString = o.value("helpstring").toString().toStdString();
  for (const QJsonValue& m : o.value("methods").toArray()) {
    auto f = FuncOf(m.toObject());
    if (!f) return std::nullopt;
    t.funcs.push_back(std::move(*f));
  }
  for (const QJsonValue& i : o.value("interfaces").toArray()) {
    const QJsonObject io = i.toObject();
    t.implTypes.push_back({io.value("name").toString().toStdString(), io.value("default").toBool(),
                           io.value("source").toBool()});
  }
  return t;
}

class CTypeLib final : public CUnknownImpl<ITypeLib> {
 public:
  explicit CTypeLib(TypeLibDescription d) : d_(std::move(d)) {}
  const TypeLibDescription& Description() const override { return d_; }

 private:
  TypeLibDescription d_;
};

}  // namespace

const TypeLibTypeInfo* TypeLibDescription::Find(std::string_view typeName) const {
  for (const TypeLibTypeInfo& t : types) {
    if (t.name == typeName) return &t;
  }
  return nullptr;
}

std::optional<TypeLibDescription> ParseTypeLib(std::string_view json) {
  QJsonParseError error{};
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject o = doc.object();
  TypeLibDescription lib;
  lib.name = o.value("name").toString().toStdString();
  const auto libid = GuidOf(o.value("libid"));
  const QStringList version = o.value("version").toString().split('.');
  bool majorOk = false;
  bool minorOk = false;
  if (version.size() == 2) {
    lib.majorVersion = static_cast<WORD>(version[0].toUShort(&majorOk));
    lib.minorVersion = static_cast<WORD>(version[1].toUShort(&minorOk));
  }
  if (lib.name.empty() || !libid || !majorOk || !minorOk) return std::nullopt;
  lib.libid = *libid;
  lib.helpString = o.value("helpstring").toString().toStdString();
  lib.helpFile = o.value("helpfile").toString().toStdString();
  for (const QJsonValue& t : o.value("types").toArray()) {
    auto info = TypeInfoOf(t.toObject());
    if (!info) return std::nullopt;
    lib.types.push_back(std::move(*info));
  }
  return lib;
}

HRESULT LoadTypeLibFromResources(HINSTANCE instance, UINT id, TypeLibDescription* lib) {
  if (!lib) return E_POINTER;
  const HRSRC r = FindResourceA(instance, id, RT_TYPELIB);
  if (!r) return TYPE_E_CANTLOADLIBRARY;
  auto parsed =
      ParseTypeLib({static_cast<const char*>(LoadResource(instance, r)), SizeofResource(instance, r)});
  if (!parsed) return TYPE_E_CANTLOADLIBRARY;
  *lib = std::move(*parsed);
  return S_OK;
}

HRESULT LoadTypeLibFromModule(const std::string& path, UINT id, TypeLibDescription* lib) {
  if (!lib) return E_POINTER;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) return TYPE_E_CANTLOADLIBRARY;
  HRESULT hr = TYPE_E_CANTLOADLIBRARY;
  if (const auto resources = reinterpret_cast<LPFNMODULERESOURCES>(dlsym(module, kModuleResourcesExport)))
    hr = LoadTypeLibFromResources(resources(), id, lib);
  dlclose(module);
  return hr;
}

TypeLibRegistration RegistrationOf(const TypeLibDescription& lib, const std::string& path) {
  TypeLibRegistration r;
  r.libid = lib.libid;
  r.majorVersion = lib.majorVersion;
  r.minorVersion = lib.minorVersion;
  r.lcid = 0;
  r.name = lib.name;
  r.helpString = lib.helpString;
  r.path = path;
  for (const TypeLibTypeInfo& t : lib.types) {
    if (t.kind == TypeKind::DispInterface) r.interfaces.push_back({t.guid, t.name});
  }
  return r;
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD majorVersion, WORD minorVersion, LCID lcid, ITypeLib** lib) {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  std::string path;
  HRESULT hr = TYPE_E_LIBNOTREGISTERED;
  for (const LCID l : {lcid, static_cast<LCID>(lcid & 0x3ff), LCID{0}}) {
    hr = QueryPathOfRegTypeLib(libid, majorVersion, minorVersion, l, &path);
    if (SUCCEEDED(hr)) break;
  }
  if (FAILED(hr)) return hr;
  TypeLibDescription d;
  if (const HRESULT load = LoadTypeLibFromModule(path, 1, &d); FAILED(load)) return load;
  if (d.libid != libid) return TYPE_E_CANTLOADLIBRARY;
  *lib = new CTypeLib(std::move(d));
  return S_OK;
}
