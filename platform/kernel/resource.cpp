#include "platform/kernel/resource.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

HRSRC FindResourceA(HMODULE module, UINT id, LPCSTR type) {
  if (!module || !type) return nullptr;
  for (std::size_t i = 0; i < module->count; ++i) {
    const ResourceEntry& e = module->entries[i];
    if (e.id == id && strcasecmp(e.type, type) == 0) return &e;
  }
  return nullptr;
}

LPCVOID LoadResource(HMODULE, HRSRC resource) { return resource ? resource->data : nullptr; }

DWORD SizeofResource(HMODULE, HRSRC resource) { return resource ? static_cast<DWORD>(resource->size) : 0; }

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  if (!buffer || size <= 0) return 0;
  buffer[0] = '\0';
  const HRSRC r = FindResourceA(instance, id, RT_STRING);
  if (!r) return 0;
  const std::size_t n = std::min<std::size_t>(r->size, static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, r->data, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

std::string LoadResourceString(HINSTANCE instance, UINT id) {
  const HRSRC r = FindResourceA(instance, id, RT_STRING);
  return r ? std::string(static_cast<const char*>(r->data), r->size) : std::string();
}
