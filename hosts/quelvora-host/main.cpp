// quelvora-host [--offscreen] SCRIPT.js [ARGS...]: runs a script that places Quelvora controls
// on a form and drives them.
#include <QApplication>
#include <QJSEngine>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hosts/quelvora-host/script_host.h"

int main(int argc, char** argv) {
  int first = 1;
  bool offscreen = false;
  if (argc > 1 && std::strcmp(argv[1], "--offscreen") == 0) {
    offscreen = true;
    first = 2;
  }
  if (argc <= first) {
    std::fprintf(stderr, "usage: quelvora-host [--offscreen] SCRIPT.js [ARGS...]\n");
    return 2;
  }
  const bool noDisplay = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
  if (offscreen || (noDisplay && !std::getenv("QT_QPA_PLATFORM"))) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QStringList args;
  for (int i = first + 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  int code = 0;
  {
    QJSEngine engine;
    engine.installExtensions(QJSEngine::ConsoleExtension);
    ScriptHost host(&engine, args);
    code = host.RunFile(QString::fromLocal8Bit(argv[first]));
  }
  return code;
}
