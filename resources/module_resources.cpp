#include "resources/module_resources.h"

#include <cstring>
#include <vector>

#include "control/about_dlg.h"
#include "control/quelvora_ids.h"
#include "resources/device_dialog_template.h"
#include "resources/dialog_templates.h"
#include "resources/embedded_files.h"

namespace {

constexpr UINT IDD_FULL_SCREEN_VIEW = 202;
constexpr const char* kUserTypeName = "Quelvora Control";

std::vector<ResourceEntry> Entries() {
  return {
      {RT_DIALOG, IDD_ABOUTBOX, &AboutDialogTemplate(), 0},
      {RT_DIALOG, IDD_FULL_SCREEN_VIEW, &FullScreenDialogTemplate(), 0},
      {RT_DIALOG, IDD_SELECT_DEVICE, &SelectDeviceDialogTemplate(), 0},
      {RT_STRING, IDS_QUELVORA, kUserTypeName, std::strlen(kUserTypeName)},
      {RT_BITMAP, IDB_QUELVORA, kEmbedded_toolbox_bmp, kEmbedded_toolbox_bmp_size},
      {RT_ICON, IDI_ABOUTDLL, kEmbedded_quelvora_ico, kEmbedded_quelvora_ico_size},
      {RT_VERSION, VS_VERSION_INFO, &QuelvoraVersionInfo(), 0},
      {RT_TYPELIB, IDR_QUELVORA_TYPELIB, kEmbedded_quelvora_tlb_json, kEmbedded_quelvora_tlb_json_size},
  };
}

}  // namespace

HINSTANCE AfxGetResourceHandle() {
  static const std::vector<ResourceEntry> entries = Entries();
  static const ResourceDirectory directory{entries.data(), entries.size()};
  return &directory;
}
