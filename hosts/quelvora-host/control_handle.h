// One control on the host's form, as a script sees it: its methods by name, called through the
// control's dispatch interface, and its window through the container interfaces.
#pragma once

#include <QJSEngine>
#include <QJSValue>
#include <QObject>
#include <QStringList>

#include "platform/com/dispatch.h"

class CQuelvoraCtrl;
class QWidget;

class ControlHandle : public QObject {
  Q_OBJECT

 public:
  // A control made by a class factory. `builtIn` is the same object when it is the control linked
  // into the host (whose figures the host reads), nullptr when a module made it. `methods` are the
  // names the script gets as functions.
  ControlHandle(QJSEngine* engine, CComPtr<IDispatch> dispatch, CQuelvoraCtrl* builtIn, QStringList methods);
  ~ControlHandle() override;

  CQuelvoraCtrl* Control() const { return builtIn_; }
  // Gives up the control: it is destroyed now, or when its call on the stack returns. Every call
  // through this handle then throws in the script.
  void Close();
  // The control's window (nullptr before it is placed on the form, and once closed).
  QWidget* Widget() const;
  IDispatch* Dispatch() const { return dispatch_.get(); }
  const QStringList& MethodNames() const { return methods_; }

  // The method names of the control built into the host.
  static QStringList BuiltInMethodNames();
  // The method names a class's registered type library gives its default dispatch interface;
  // empty when the class has no loadable type library.
  static QStringList RegisteredMethodNames(REFCLSID clsid);

  // Calls a method by name with the script's arguments; a dispatch error becomes a script error.
  Q_INVOKABLE QJSValue call(const QString& name, const QJSValue& args);

 private:
  QJSEngine* engine_;
  CComPtr<IDispatch> dispatch_;
  CQuelvoraCtrl* builtIn_;
  QStringList methods_;
};
