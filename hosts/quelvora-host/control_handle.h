// One control on the host's form, as a script sees it: its methods by name, called through the
// control's dispatch interface.
#pragma once

#include <QJSEngine>
#include <QJSValue>
#include <QObject>
#include <QStringList>
#include <memory>

class CQuelvoraCtrl;

class ControlHandle : public QObject {
  Q_OBJECT

 public:
  ControlHandle(QJSEngine* engine, std::unique_ptr<CQuelvoraCtrl> control);
  ~ControlHandle() override;

  CQuelvoraCtrl* Control() const { return control_.get(); }
  static QStringList MethodNames();

  // Calls a method by name with the script's arguments; a dispatch error becomes a script error.
  Q_INVOKABLE QJSValue call(const QString& name, const QJSValue& args);

 private:
  QJSEngine* engine_;
  std::unique_ptr<CQuelvoraCtrl> control_;
};
