#include "platform/ui/modal.h"

#include <QGuiApplication>

namespace {
ModalHook g_hook;
}

void SetModalHook(ModalHook hook) { g_hook = std::move(hook); }
const ModalHook& GetModalHook() { return g_hook; }

bool IsHeadless() {
  const QString name = QGuiApplication::platformName();
  return name == "offscreen" || name == "minimal";
}
