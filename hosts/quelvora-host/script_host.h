// The script host: a form that holds controls, and the `host` object a script drives it with.
#pragma once

#include <QJSEngine>
#include <QJSValue>
#include <QObject>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

class CQuelvoraCtrl;
class ControlHandle;

class ScriptHost : public QObject {
  Q_OBJECT
  Q_PROPERTY(QStringList args READ Args CONSTANT)

 public:
  ScriptHost(QJSEngine* engine, QStringList args);
  ~ScriptHost() override;

  // Runs a script file; returns the process exit code.
  int RunFile(const QString& path);

  QStringList Args() const { return args_; }
  QWidget* Form() { return &form_; }

  // Places a control on the form: with a ProgID, the class registered under it, loaded from its
  // module through the registry; without one, the control built into the host.
  Q_INVOKABLE QJSValue create(const QString& progId = QString());
  // The script's host.destroy (the engine keeps the name destroy() of every object it wraps for
  // itself).
  Q_INVOKABLE void destroyControl(const QJSValue& control);
  Q_INVOKABLE void resize(const QJSValue& control, int width, int height);
  Q_INVOKABLE void wait(int milliseconds);
  Q_INVOKABLE QJSValue messageBoxes();
  Q_INVOKABLE void clearMessageBoxes();
  Q_INVOKABLE void onModal(const QJSValue& fn);
  // Chooses the capture drivers with the words of $QUELVORA_CAPTURE ("v4l2", "test", "v4l2,test",
  // "none"); answers how many there are now.
  Q_INVOKABLE int captureDrivers(const QString& words);
  Q_INVOKABLE QString screenshot(const QJSValue& what, const QString& path);
  // What a control has done so far: frames its capture window delivered, frames and bytes sent.
  Q_INVOKABLE QJSValue figures(const QJSValue& control);
  // Appends every picture the control draws from now on to a file, as raw bottom-up 24-bit B,G,R
  // pictures of the output size (what its user saw, for checking against the source).
  Q_INVOKABLE void keepPictures(const QJSValue& control, const QString& path);
  Q_INVOKABLE void print(const QString& a = {}, const QString& b = {}, const QString& c = {},
                         const QString& d = {}, const QString& e = {}, const QString& f = {},
                         const QString& g = {}, const QString& h = {});
  Q_INVOKABLE void exit(int code);

 private:
  // The script's `host`: a plain object whose functions call this object's invokable methods.
  QJSValue MakeHostObject();
  ControlHandle* HandleOf(const QJSValue& control) const;
  void LayOut();

  QJSEngine* engine_;
  QStringList args_;
  QWidget form_;
  // Declared before the controls, so that they go after the controls that write to them.
  std::vector<std::unique_ptr<class PictureFile>> pictureFiles_;
  std::vector<std::unique_ptr<ControlHandle>> controls_;
  // Handles of destroyed controls, kept (closed) until the host ends: a script may still call
  // through them, and one may be inside its own call when its control is destroyed.
  std::vector<std::unique_ptr<ControlHandle>> closed_;
  QJSValue modalFn_;
  bool exitRequested_ = false;
  int exitCode_ = 0;
};
