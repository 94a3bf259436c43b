#include "capture/video_size.h"

#include <cstdio>
#include <cstring>

#include "control/quelvora_ctrl.h"

void ApplyVideoSizeText(const char* text, int& width, int& height) {
  if (!text) return;
  struct Named {
    const char* name;
    int width;
    int height;
  };
  static constexpr Named kNames[] = {
      {"QCIF", 176, 144}, {"CIF", 352, 288}, {"4CIF", 704, 576}, {"16CIF", 1408, 1152}};
  for (const Named& n : kNames) {
    if (std::strcmp(text, n.name) == 0) {
      width = n.width;
      height = n.height;
      return;
    }
  }
  std::sscanf(text, "%d*%d", &width, &height);
}

short CQuelvoraCtrl::SetVideoInFormat(LPCTSTR szVideoIn) {
  ApplyVideoSizeText(szVideoIn, m_nVideoInWidth, m_nVideoInHeight);
  return 0;
}

short CQuelvoraCtrl::SetVideoOutFormat(LPCTSTR szVideoOut) {
  ApplyVideoSizeText(szVideoOut, m_nVideoOutWidth, m_nVideoOutHeight);
  return 0;
}
