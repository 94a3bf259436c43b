#include "platform/ui/msgbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/kernel/codepage.h"
#include "platform/ui/modal.h"

namespace {

std::mutex g_recordMutex;
std::vector<RecordedMessageBox> g_recorded;
std::string g_appTitle = "Quelvora";
// Read by the capture thread when it draws a name into a frame.
std::atomic<int> g_displayCodePage{936};

const char* IconName(UINT type) {
  switch (type & 0xF0) {
    case MB_ICONHAND: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONEXCLAMATION: return "warning";
    case MB_ICONINFORMATION: return "information";
    default: return "none";
  }
}

const char* ButtonsName(UINT type) {
  switch (type & 0x0F) {
    case MB_OKCANCEL: return "OKCancel";
    case MB_YESNO: return "YesNo";
    default: return "OK";
  }
}

int DefaultAnswer(UINT type) { return (type & 0x0F) == MB_YESNO ? IDYES : IDOK; }

class BoxAnswer : public ModalAnswer {
 public:
  explicit BoxAnswer(QMessageBox* box) : box_(box) {}
  bool PressButton(const std::string& text) override {
    if (!box_) return false;
    for (QAbstractButton* b : box_->buttons()) {
      if (b->text().remove('&') == QString::fromStdString(text)) {
        b->click();
        return true;
      }
    }
    return false;
  }
  bool ChooseEntry(int) override { return false; }
  void SendKey(int vk) override {
    if (!box_) return;
    const int key = vk == 27 ? Qt::Key_Escape : vk == 13 ? Qt::Key_Return : vk;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(box_, &press);
  }
  void SendCommand(int) override {}
  bool Closed() const override { return !box_ || !box_->isVisible(); }

 private:
  QPointer<QMessageBox> box_;
};

}  // namespace

void SetDisplayCodePage(int codePage) { g_displayCodePage = codePage; }
int DisplayCodePage() { return g_displayCodePage; }

void AfxSetAppTitle(const std::string& title) { g_appTitle = title; }
const std::string& AfxGetAppTitle() { return g_appTitle; }

std::vector<RecordedMessageBox> RecordedMessageBoxes() {
  std::lock_guard<std::mutex> lock(g_recordMutex);
  return g_recorded;
}

void ClearRecordedMessageBoxes() {
  std::lock_guard<std::mutex> lock(g_recordMutex);
  g_recorded.clear();
}

void MessageBeep(UINT) {
  if (!IsHeadless()) QApplication::beep();
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  RecordedMessageBox record;
  record.owned = owner != nullptr && IsWindow(owner);
  record.text = text ? text : "";
  record.caption = caption ? caption : "Error";
  record.icon = IconName(type);
  record.buttons = ButtonsName(type);

  const QString uText = QString::fromStdString(AnsiToUtf8(record.text, g_displayCodePage));
  const QString uCaption = QString::fromStdString(AnsiToUtf8(record.caption, g_displayCodePage));
  int answer = DefaultAnswer(type);

  const ModalHook& hook = GetModalHook();
  if (IsHeadless() && !hook) {
    std::fprintf(stderr, "[message box] %s: %s\n", uCaption.toUtf8().constData(), uText.toUtf8().constData());
  } else {
    QWidget* parent = nullptr;
    if (record.owned) {
      if (CWnd* w = CWnd::FromHandle(owner)) parent = w->Widget();
    }
    QMessageBox box(parent);
    box.setWindowTitle(uCaption);
    box.setText(uText);
    switch (type & 0xF0) {
      case MB_ICONHAND: box.setIcon(QMessageBox::Critical); break;
      case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
      case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
      case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
      default: break;
    }
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* yes = nullptr;
    QPushButton* no = nullptr;
    switch (type & 0x0F) {
      case MB_OKCANCEL:
        ok = box.addButton("OK", QMessageBox::AcceptRole);
        cancel = box.addButton("Cancel", QMessageBox::RejectRole);
        break;
      case MB_YESNO:
        yes = box.addButton("Yes", QMessageBox::YesRole);
        no = box.addButton("No", QMessageBox::NoRole);
        break;
      default:
        ok = box.addButton("OK", QMessageBox::AcceptRole);
        break;
    }
    box.setDefaultButton(ok ? ok : yes);
    box.setEscapeButton(cancel ? cancel : no ? no : ok);
    if (hook || IsHeadless()) {
      QTimer::singleShot(0, &box, [&box, &record, &uText, &uCaption, ok, yes] {
        BoxAnswer answerer(&box);
        if (const ModalHook& h = GetModalHook()) {
          ModalInfo info;
          info.kind = "messagebox";
          info.title = uCaption.toStdString();
          info.texts = {uText.toStdString()};
          for (QAbstractButton* b : box.buttons()) info.buttons.push_back(b->text().toStdString());
          h(info, answerer);
        }
        // Nobody can answer a box on the offscreen platform: take the default.
        if (!answerer.Closed() && IsHeadless()) (ok ? ok : yes)->click();
        (void)record;
      });
    }
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked == cancel && cancel) answer = IDCANCEL;
    else if (clicked == no && no) answer = IDNO;
    else if (clicked == yes && yes) answer = IDYES;
    else if (clicked == ok && ok) answer = IDOK;
    else answer = cancel ? IDCANCEL : no ? IDNO : IDOK;
  }
  record.answer = answer;
  {
    std::lock_guard<std::mutex> lock(g_recordMutex);
    g_recorded.push_back(record);
  }
  return answer;
}

int AfxMessageBox(LPCSTR text, UINT type) { return MessageBoxA(nullptr, text, g_appTitle.c_str(), type); }
