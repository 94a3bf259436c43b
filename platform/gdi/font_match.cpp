#include "platform/gdi/font_match.h"

#include <fontconfig/fontconfig.h>

#include <QCoreApplication>
#include <QFontDatabase>
#include <QStringList>
#include <QThread>
#include <map>
#include <memory>
#include <mutex>

namespace {

// The platform faces the control names, and what stands in for them here.
constexpr char kAliases[] = R"(<?xml version="1.0"?>
<fontconfig>
  <alias binding="same">
    <family>Courier New</family>
    <prefer><family>Liberation Mono</family><family>Cousine</family></prefer>
  </alias>
  <alias binding="same">
    <family>楷体_GB2312</family>
    <prefer><family>AR PL UKai CN</family><family>AR PL KaitiM GB</family></prefer>
  </alias>
  <alias binding="same">
    <family>楷体</family>
    <prefer><family>AR PL UKai CN</family><family>AR PL KaitiM GB</family></prefer>
  </alias>
  <alias binding="same">
    <family>System</family>
    <prefer><family>sans-serif</family></prefer>
  </alias>
</fontconfig>
)";

std::mutex& Mutex() {
  static std::mutex mutex;
  return mutex;
}

// A configuration of our own, so that the aliases reach neither Qt's configuration nor any
// other user of fontconfig in the process. Called with the mutex held.
// Destroyed at exit: fontconfig keeps parts of a live configuration where leak checkers cannot
// see them.
FcConfig* Config() {
  static const std::unique_ptr<FcConfig, decltype(&FcConfigDestroy)> config = [] {
    FcConfig* c = FcInitLoadConfigAndFonts();
    if (c) FcConfigParseAndLoadFromMemory(c, reinterpret_cast<const FcChar8*>(kAliases), FcTrue);
    return std::unique_ptr<FcConfig, decltype(&FcConfigDestroy)>(c, &FcConfigDestroy);
  }();
  return config.get();
}

// The Qt families of each font file loaded so far, guarded by Mutex().
std::map<std::string, QStringList>& LoadedFamilies() {
  static std::map<std::string, QStringList> families;
  return families;
}

QStringList AddToQt(const std::string& file) {
  const int id = QFontDatabase::addApplicationFont(QString::fromStdString(file));
  return id < 0 ? QStringList{} : QFontDatabase::applicationFontFamilies(id);
}

}  // namespace

FaceMatch MatchFace(const std::string& faceUtf8, int weight, bool italic) {
  std::lock_guard lock(Mutex());
  FaceMatch match;
  FcConfig* config = Config();
  if (!config) return match;
  FcPattern* pattern = FcPatternCreate();
  if (!faceUtf8.empty())
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(faceUtf8.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* found = FcFontMatch(config, pattern, &result);
  if (found) {
    FcChar8* text = nullptr;
    if (FcPatternGetString(found, FC_FILE, 0, &text) == FcResultMatch)
      match.file = reinterpret_cast<char*>(text);
    if (FcPatternGetString(found, FC_FAMILY, 0, &text) == FcResultMatch)
      match.family = reinterpret_cast<char*>(text);
    FcPatternGetInteger(found, FC_INDEX, 0, &match.index);
    FcPatternDestroy(found);
  }
  FcPatternDestroy(pattern);
  return match;
}

QString QtFamilyOf(const FaceMatch& match) {
  const QString wanted = QString::fromStdString(match.family);
  if (match.file.empty()) return wanted;
  QStringList loaded;
  {
    std::lock_guard lock(Mutex());
    auto [it, first] = LoadedFamilies().try_emplace(match.file);
    if (first) {
      // Qt's font database is the GUI thread's. A capture thread that needs a face first asks
      // that thread to load the file, without waiting for it (the GUI thread may be waiting for
      // the capture thread); Qt finds the installed face by name meanwhile.
      QCoreApplication* app = QCoreApplication::instance();
      if (!app || QThread::currentThread() == app->thread()) {
        it->second = AddToQt(match.file);
      } else {
        QMetaObject::invokeMethod(
            app,
            [file = match.file] {
              std::lock_guard relock(Mutex());
              LoadedFamilies()[file] = AddToQt(file);
            },
            Qt::QueuedConnection);
      }
    }
    loaded = it->second;
  }
  // A collection file holds several families; the one fontconfig chose is among them.
  if (loaded.contains(wanted) || loaded.isEmpty()) return wanted;
  return loaded.front();
}
