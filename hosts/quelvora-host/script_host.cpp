#include "hosts/quelvora-host/script_host.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QMetaMethod>
#include <QPixmap>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

#include "control/quelvora_ctrl.h"
#include "control/quelvora_factory.h"
#include "hosts/quelvora-host/control_handle.h"
#include "platform/com/objbase.h"
#include "platform/kernel/codepage.h"
#include "platform/ui/modal.h"
#include "platform/ui/msgbox.h"
#include "platform/vfw/capture_driver.h"

namespace {

constexpr int kDefaultWidth = 352;
constexpr int kDefaultHeight = 288;

QString Hex(const std::string& bytes) {
  return QString::fromLatin1(QByteArray(bytes.data(), static_cast<int>(bytes.size())).toHex(' '));
}

QJSValue ToJsArray(QJSEngine* engine, const std::vector<std::string>& items) {
  QJSValue a = engine->newArray(static_cast<uint>(items.size()));
  for (size_t i = 0; i < items.size(); ++i)
    a.setProperty(static_cast<quint32>(i), QString::fromStdString(items[i]));
  return a;
}

// The answer object a modal hook hands to the script.
class ModalAnswerObject : public QObject {
  Q_OBJECT
 public:
  explicit ModalAnswerObject(ModalAnswer& answer) : answer_(answer) {}
  Q_INVOKABLE bool pressButton(const QString& text) { return answer_.PressButton(text.toStdString()); }
  Q_INVOKABLE bool chooseEntry(int index) { return answer_.ChooseEntry(index); }
  Q_INVOKABLE void sendKey(int virtualKey) { answer_.SendKey(virtualKey); }
  Q_INVOKABLE void sendCommand(int id) { answer_.SendCommand(id); }
  Q_INVOKABLE bool closed() const { return answer_.Closed(); }

 private:
  ModalAnswer& answer_;
};

}  // namespace

// Where keepPictures writes a control's pictures.
class PictureFile : public DrawnPictureSink {
 public:
  explicit PictureFile(const QString& path) : file_(path) { file_.open(QIODevice::WriteOnly | QIODevice::Truncate); }
  bool IsOpen() const { return file_.isOpen(); }
  void PictureDrawn(const BYTE* bits, int width, int height) override {
    file_.write(reinterpret_cast<const char*>(bits), static_cast<qint64>(width) * height * 3);
  }

 private:
  QFile file_;
};

ScriptHost::ScriptHost(QJSEngine* engine, QStringList args) : engine_(engine), args_(std::move(args)) {
  form_.setWindowTitle("Quelvora");
  form_.resize(kDefaultWidth, kDefaultHeight);
}

ScriptHost::~ScriptHost() {
  SetModalHook({});
  controls_.clear();
  closed_.clear();
}

QJSValue ScriptHost::MakeHostObject() {
  // Every object the engine wraps answers destroy() by deleting itself later, and that name hides
  // a method of the same name. This object lives on its creator's stack, so the script never gets
  // it: it gets plain functions that call it (destroyControl as host.destroy).
  QJSEngine::setObjectOwnership(this, QJSEngine::CppOwnership);
  QStringList names;
  const QMetaObject& meta = staticMetaObject;
  for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
    const QMetaMethod m = meta.method(i);
    if (m.methodType() == QMetaMethod::Method && m.access() == QMetaMethod::Public)
      names << QString::fromLatin1(m.name());
  }
  names.removeDuplicates();  // a default argument makes one overload more
  const QJSValue make = engine_->evaluate(
      "(function (self, names, args) {"
      "  var host = { args: args };"
      "  names.forEach(function (n) {"
      "    var call = function () { return self[n].apply(self, arguments); };"
      "    host[n === 'destroyControl' ? 'destroy' : n] = call;"
      "  });"
      "  return Object.freeze(host);"
      "})");
  return make.call({engine_->newQObject(this), engine_->toScriptValue(names), engine_->toScriptValue(args_)});
}

int ScriptHost::RunFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "quelvora-host: cannot read %s\n", path.toUtf8().constData());
    return 2;
  }
  const QString source = QTextStream(&file).readAll();
  engine_->globalObject().setProperty("host", MakeHostObject());
  // Offscreen too: a form that is never shown never gets its first paint, which would then
  // come with the first screenshot and paint over whatever was drawn into the controls.
  form_.show();
  const QJSValue result = engine_->evaluate(source, QFileInfo(path).absoluteFilePath());
  if (exitRequested_) return exitCode_;
  if (result.isError()) {
    std::fprintf(stderr, "%s:%d: %s\n", path.toUtf8().constData(), result.property("lineNumber").toInt(),
                 result.toString().toUtf8().constData());
    return 1;
  }
  return 0;
}

QJSValue ScriptHost::create(const QString& progId) {
  // Made as a container makes a control: a class factory (the built-in one, or the one of the
  // module the ProgID's registration names) hands out the dispatch interface, then the control
  // is activated in place on the form.
  CComPtr<IDispatch> dispatch;
  CQuelvoraCtrl* builtIn = nullptr;
  QStringList methods;
  if (progId.isEmpty()) {
    if (FAILED(QuelvoraFactory().CreateInstance(nullptr, IID_IDispatch, dispatch.ReceiveVoid()))) {
      engine_->throwError(QStringLiteral("cannot create the built-in control"));
      return {};
    }
    builtIn = static_cast<CQuelvoraCtrl*>(dispatch.get());
    methods = ControlHandle::BuiltInMethodNames();
  } else {
    const std::string id = progId.toStdString();
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(id.c_str(), &clsid))) {
      engine_->throwError(QJSValue::ReferenceError, "no control is registered as " + progId);
      return {};
    }
    if (const HRESULT hr =
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dispatch.ReceiveVoid());
        FAILED(hr)) {
      const QString why = hr == CO_E_DLLNOTFOUND
                              ? QString::fromStdString(CoLastLoadError())
                              : QString::fromLatin1(HResultText(hr) ? HResultText(hr) : "");
      engine_->throwError(QString("cannot create %1 (0x%2) %3")
                              .arg(progId)
                              .arg(static_cast<quint32>(hr), 8, 16, QChar('0'))
                              .arg(why));
      return {};
    }
    methods = ControlHandle::RegisteredMethodNames(clsid);
  }
  CComPtr<IOleObject> object;
  const RECT pos{0, 0, kDefaultWidth, kDefaultHeight};
  if (FAILED(dispatch->QueryInterface(IID_IOleObject, object.ReceiveVoid())) ||
      FAILED(object->DoVerb(OLEIVERB_INPLACEACTIVATE, &form_, &pos))) {
    engine_->throwError(QStringLiteral("the control cannot be placed on the form"));
    return {};
  }
  auto handle = std::make_unique<ControlHandle>(engine_, std::move(dispatch), builtIn, std::move(methods));
  ControlHandle* raw = handle.get();
  controls_.push_back(std::move(handle));
  LayOut();

  // The script's object: one function per method, plus the handle for the host's own use.
  QJSValue obj = engine_->newObject();
  QJSValue h = engine_->newQObject(raw);
  QJSEngine::setObjectOwnership(raw, QJSEngine::CppOwnership);
  obj.setProperty("__handle", h);
  const QJSValue maker = engine_->evaluate(
      "(function (h, name) { return function () { return h.call(name, "
      "Array.prototype.slice.call(arguments)); }; })");
  for (const QString& name : raw->MethodNames()) obj.setProperty(name, maker.call({h, name}));
  return obj;
}

ControlHandle* ScriptHost::HandleOf(const QJSValue& control) const {
  QObject* o = control.property("__handle").toQObject();
  for (const auto& c : controls_)
    if (c.get() == o) return c.get();
  return nullptr;
}

void ScriptHost::destroyControl(const QJSValue& control) {
  ControlHandle* h = HandleOf(control);
  if (!h) {
    engine_->throwError(QJSValue::TypeError, "not a control of this host");
    return;
  }
  for (auto it = controls_.begin(); it != controls_.end(); ++it) {
    if (it->get() == h) {
      closed_.push_back(std::move(*it));
      controls_.erase(it);
      break;
    }
  }
  h->Close();
  LayOut();
}

void ScriptHost::resize(const QJSValue& control, int width, int height) {
  ControlHandle* h = HandleOf(control);
  if (!h || !h->Widget()) {
    engine_->throwError(QJSValue::TypeError, "not a control of this host");
    return;
  }
  h->Widget()->resize(width, height);
  LayOut();
}

void ScriptHost::LayOut() {
  // Controls stand side by side on the form, in the order they were made.
  int x = 0;
  int height = kDefaultHeight;
  for (const auto& c : controls_) {
    QWidget* w = c->Widget();
    if (!w) continue;
    w->move(x, 0);
    x += w->width();
    height = std::max(height, w->height());
  }
  form_.resize(std::max(x, kDefaultWidth), height);
}

void ScriptHost::wait(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(std::max(0, milliseconds), &loop, &QEventLoop::quit);
  loop.exec();
}

QJSValue ScriptHost::messageBoxes() {
  const auto boxes = RecordedMessageBoxes();
  QJSValue a = engine_->newArray(static_cast<uint>(boxes.size()));
  for (size_t i = 0; i < boxes.size(); ++i) {
    const RecordedMessageBox& b = boxes[i];
    QJSValue o = engine_->newObject();
    o.setProperty("text", QString::fromStdString(AnsiToUtf8(b.text, DisplayCodePage())));
    o.setProperty("textHex", Hex(b.text));
    o.setProperty("caption", QString::fromStdString(AnsiToUtf8(b.caption, DisplayCodePage())));
    o.setProperty("captionHex", Hex(b.caption));
    o.setProperty("icon", QString::fromStdString(b.icon));
    o.setProperty("buttons", QString::fromStdString(b.buttons));
    o.setProperty("owned", b.owned);
    a.setProperty(static_cast<quint32>(i), o);
  }
  return a;
}

void ScriptHost::clearMessageBoxes() { ClearRecordedMessageBoxes(); }

void ScriptHost::onModal(const QJSValue& fn) {
  modalFn_ = fn;
  if (!fn.isCallable()) {
    SetModalHook({});
    return;
  }
  SetModalHook([this](const ModalInfo& info, ModalAnswer& answer) {
    QJSValue o = engine_->newObject();
    o.setProperty("kind", QString::fromStdString(info.kind));
    o.setProperty("title", QString::fromStdString(info.title));
    o.setProperty("texts", ToJsArray(engine_, info.texts));
    o.setProperty("entries", ToJsArray(engine_, info.entries));
    o.setProperty("buttons", ToJsArray(engine_, info.buttons));
    ModalAnswerObject answerObject(answer);
    QJSValue a = engine_->newQObject(&answerObject);
    QJSEngine::setObjectOwnership(&answerObject, QJSEngine::CppOwnership);
    const QJSValue r = modalFn_.call({o, a});
    if (r.isError()) std::fprintf(stderr, "modal handler: %s\n", r.toString().toUtf8().constData());
  });
}

QString ScriptHost::screenshot(const QJSValue& what, const QString& path) {
  QWidget* target = nullptr;
  if (what.isString() && what.toString() == "form") {
    target = &form_;
  } else if (what.isString() && what.toString() == "modal") {
    // The dialog or full-screen view that is open (from inside a host.onModal handler).
    target = QApplication::activeModalWidget();
  } else if (ControlHandle* h = HandleOf(what)) {
    target = h->Widget();
  }
  if (!target) {
    engine_->throwError(QJSValue::TypeError,
                        "screenshot of what? (a control, \"form\" or an open \"modal\" window)");
    return {};
  }
  const QFileInfo info(path);
  QDir().mkpath(info.absolutePath());
  if (!target->grab().toImage().save(info.absoluteFilePath(), "PNG")) {
    engine_->throwError("cannot write " + path);
    return {};
  }
  return info.absoluteFilePath();
}

int ScriptHost::captureDrivers(const QString& words) {
  ConfigureCaptureDrivers(CaptureDriverConfigFromText(words.toUtf8().constData()));
  return CaptureDriverCount();
}

QJSValue ScriptHost::figures(const QJSValue& control) {
  ControlHandle* h = HandleOf(control);
  if (!h) {
    engine_->throwError(QJSValue::TypeError, "not a control of this host");
    return {};
  }
  // The figures are the control's own counters, which only the control linked into the host
  // shows its host.
  const CQuelvoraCtrl* ctrl = h->Control();
  if (!ctrl) {
    engine_->throwError(QJSValue::TypeError, "figures are kept for the built-in control only");
    return {};
  }
  CaptureWindowInfo capture;
  const bool capturing = ctrl->m_hCapWnd && GetCaptureWindowInfo(ctrl->m_hCapWnd, &capture);
  QJSValue o = engine_->newObject();
  o.setProperty("captured", capturing ? static_cast<double>(capture.framesDelivered) : 0.0);
  o.setProperty("sent", static_cast<double>(ctrl->m_nFramesSent.load()));
  o.setProperty("bytesSent", static_cast<double>(ctrl->m_nBytesSent.load()));
  o.setProperty("received", static_cast<double>(ctrl->m_nDatagramsReceived));
  o.setProperty("shown", static_cast<double>(ctrl->m_nFramesShown));
  o.setProperty("recorded", static_cast<double>(ctrl->m_nFramesRecorded));
  o.setProperty("refused", static_cast<double>(ctrl->m_display.frames.Refused()));
  o.setProperty("keyFramesAsked", static_cast<double>(ctrl->m_keyFrameRequests.Sent()));
  o.setProperty("keyFramesAnswered", static_cast<double>(ctrl->m_nKeyFramesRequested.load()));
  // Per client in the table, so that a script tells its peers' streams apart.
  QJSValue clients = engine_->newArray();
  quint32 n = 0;
  for (int id = 1; id <= kMaxClientID; ++id) {
    const ClientRecord& record = ctrl->m_clients[id];
    if (!record.bInUse) continue;
    QJSValue c = engine_->newObject();
    c.setProperty("id", id);
    c.setProperty("name", QString::fromLatin1(record.szClientName));
    c.setProperty("received", static_cast<double>(record.nDatagramsReceived));
    c.setProperty("recorded", static_cast<double>(record.nFramesRecorded));
    clients.setProperty(n++, c);
  }
  o.setProperty("clients", clients);
  return o;
}

void ScriptHost::keepPictures(const QJSValue& control, const QString& path) {
  ControlHandle* h = HandleOf(control);
  CQuelvoraCtrl* ctrl = h ? h->Control() : nullptr;
  if (!ctrl) {
    engine_->throwError(QJSValue::TypeError, "pictures are kept for the built-in control only");
    return;
  }
  auto file = std::make_unique<PictureFile>(path);
  if (!file->IsOpen()) {
    engine_->throwError("cannot write " + path);
    return;
  }
  ctrl->m_pDrawnPictures = file.get();
  pictureFiles_.push_back(std::move(file));
}

void ScriptHost::print(const QString& a, const QString& b, const QString& c, const QString& d,
                       const QString& e, const QString& f, const QString& g, const QString& h) {
  QStringList parts;
  for (const QString* s : {&a, &b, &c, &d, &e, &f, &g, &h})
    if (!s->isNull()) parts << *s;
  std::printf("%s\n", parts.join(' ').toUtf8().constData());
  std::fflush(stdout);
}

void ScriptHost::exit(int code) {
  exitRequested_ = true;
  exitCode_ = code;
  engine_->setInterrupted(true);
}

#include "script_host.moc"
