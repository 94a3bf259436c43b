// quelvora-regsvr [/u] MODULE: registers a self-registering module (DllRegisterServer) or, with
// /u, unregisters it (DllUnregisterServer), in the registry of $QUELVORA_REGISTRY, and prints the
// result, e.g. "DllRegisterServer: 0x00000000". Exit code 0 on success, 1 when the export fails,
// 2 when the module or its export cannot be found.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/kernel/windef.h"

int main(int argc, char** argv) {
  bool unregister = false;
  int arg = 1;
  if (arg < argc && (std::strcmp(argv[arg], "/u") == 0 || std::strcmp(argv[arg], "-u") == 0)) {
    unregister = true;
    ++arg;
  }
  if (arg + 1 != argc) {
    std::fprintf(stderr, "usage: quelvora-regsvr [/u] MODULE\n");
    return 2;
  }
  // The module writes its own path into the registry as it was loaded, so load it by a full one.
  std::error_code ec;
  const std::string path = std::filesystem::absolute(argv[arg], ec).string();
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "quelvora-regsvr: cannot load %s: %s\n", path.c_str(), dlerror());
    return 2;
  }
  const char* name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  using Export = HRESULT (*)();
  const auto fn = reinterpret_cast<Export>(dlsym(module, name));
  if (!fn) {
    std::fprintf(stderr, "quelvora-regsvr: %s has no %s\n", path.c_str(), name);
    dlclose(module);
    return 2;
  }
  const HRESULT hr = fn();
  std::printf("%s: 0x%08X\n", name, static_cast<unsigned>(hr));
  dlclose(module);
  return hr < 0 ? 1 : 0;
}
