#include "platform/ui/dialog.h"

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QFrame>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "platform/kernel/codepage.h"
#include "platform/ui/modal.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/window_widget.h"

namespace {

QString FromAnsi(const std::string& bytes) {
  return QString::fromStdString(AnsiToUtf8(bytes, DisplayCodePage()));
}

QFont TemplateFont(const std::string& face, int pointSize) {
  QFont font(QString::fromStdString(face));
  font.setPixelSize(pointSize * 96 / 72);
  return font;
}

}  // namespace

DialogBaseUnits DialogBaseUnitsFor(const std::string& fontFace, int pointSize) {
  const QFontMetrics metrics(TemplateFont(fontFace, pointSize));
  const QString alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  DialogBaseUnits units;
  units.cx = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
  units.cy = metrics.height();
  return units;
}

RECT DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy) {
  RECT r;
  r.left = x * units.cx / 4;
  r.top = y * units.cy / 8;
  r.right = r.left + cx * units.cx / 4;
  r.bottom = r.top + cy * units.cy / 8;
  return r;
}

COLORREF CDC::SetTextColor(COLORREF colour) {
  const COLORREF old = text_;
  text_ = colour;
  hasText_ = true;
  return old;
}
COLORREF CDC::SetBkColor(COLORREF colour) {
  const COLORREF old = bk_;
  bk_ = colour;
  return old;
}
int CDC::SetBkMode(int mode) {
  const int old = bkMode_;
  bkMode_ = mode;
  return old;
}

// The widget of a dialog: message translation as for every window, plus the keyboard rules of a
// dialog (pre-translation, ESC cancels, Enter presses the default button).
class QvDialogWidget : public QDialog, public QvWindowEvents {
 public:
  explicit QvDialogWidget(CDialog* owner) : QDialog(nullptr), QvWindowEvents(owner), dialog_(owner) {}
  void Detach() {
    QvWindowEvents::Detach();
    dialog_ = nullptr;
  }

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::KeyPress) {
      keyPressEvent(static_cast<QKeyEvent*>(e));
      return true;
    }
    // A dialog with controls paints as Qt widgets; a bare view paints its surface.
    if (e->type() == QEvent::Paint && dialog_ && !dialog_->items_.empty()) return QDialog::event(e);
    if (HandleEvent(this, e)) return true;
    return QDialog::event(e);
  }
  void keyPressEvent(QKeyEvent* e) override {
    if (!dialog_) return;
    dialog_->DefaultKey(VirtualKeyFromQt(e));
  }
  void reject() override {
    if (dialog_) dialog_->WindowProc(WM_COMMAND, IDCANCEL, 0);
  }
  void accept() override {
    if (dialog_) dialog_->WindowProc(WM_COMMAND, IDOK, 0);
  }

 private:
  CDialog* dialog_;
};

struct CDialog::Item {
  DialogControl control;
  QWidget* widget = nullptr;
  CWnd* wrapper = nullptr;  // a member bound with DDX_Control, or one made for GetDlgItem
  bool ownsWrapper = false;
};

CDialog::CDialog(const DialogTemplate* dialogTemplate, CWnd* /*parent*/) : template_(dialogTemplate) {}

CDialog::~CDialog() {
  DestroyWindow();
  for (Item* item : items_) {
    if (item->ownsWrapper) delete item->wrapper;
    delete item;
  }
}

void CDialog::Build() {
  auto* dlg = new QvDialogWidget(this);
  dlg->setModal(true);
  const DialogBaseUnits units = DialogBaseUnitsFor(template_->fontFace, template_->pointSize);
  const RECT frame = DialogUnitsToPixels(units, 0, 0, template_->cx, template_->cy);
  dlg->resize(frame.right, frame.bottom);
  dlg->setFont(TemplateFont(template_->fontFace, template_->pointSize));
  if (template_->style & WS_POPUP && !(template_->style & WS_CAPTION))
    dlg->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  dlg->setWindowTitle(FromAnsi(template_->caption));
  for (const DialogControl& c : template_->controls) {
    auto* item = new Item{c, nullptr, nullptr, false};
    const RECT r = DialogUnitsToPixels(units, c.x, c.y, c.cx, c.cy);
    QWidget* w = nullptr;
    switch (c.kind) {
      case DialogControl::Kind::PushButton:
      case DialogControl::Kind::DefPushButton: {
        auto* b = new QPushButton(FromAnsi(c.text), dlg);
        b->setAutoDefault(false);
        b->setDefault(c.kind == DialogControl::Kind::DefPushButton);
        const int id = c.id;
        QObject::connect(b, &QPushButton::clicked, dlg,
                         [this, id] { WindowProc(WM_COMMAND, static_cast<WPARAM>(id), 0); });
        w = b;
        break;
      }
      case DialogControl::Kind::Static:
        w = new QLabel(FromAnsi(c.text), dlg);
        break;
      case DialogControl::Kind::Icon: {
        auto* l = new QLabel(dlg);
        QImage img;
        if (!c.image.empty()) img.loadFromData(c.image.data(), static_cast<int>(c.image.size()));
        if (!img.isNull()) l->setPixmap(QPixmap::fromImage(img));
        w = l;
        break;
      }
      case DialogControl::Kind::EtchedLine: {
        auto* f = new QFrame(dlg);
        f->setFrameShape(QFrame::HLine);
        f->setFrameShadow(QFrame::Sunken);
        w = f;
        break;
      }
      case DialogControl::Kind::ComboBox: {
        auto* combo = new QComboBox(dlg);
        combo->setEditable(c.style & CBS_DROPDOWN);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCurrentIndex(-1);
        w = combo;
        break;
      }
    }
    // A drop-down list's height in the template includes its list; the closed box is one line.
    const int height = c.kind == DialogControl::Kind::ComboBox ? w->sizeHint().height() : r.bottom - r.top;
    w->setGeometry(r.left, r.top, r.right - r.left, height);
    item->widget = w;
    items_.push_back(item);
  }
  Attach(dlg);
}

void CDialog::ApplyControlColours() {
  for (Item* item : items_) {
    if (item->control.kind != DialogControl::Kind::Static) continue;
    CDC dc;
    OnCtlColor(&dc, GetDlgItem(item->control.id), CTLCOLOR_STATIC);
    if (dc.HasTextColor()) {
      QPalette pal = item->widget->palette();
      const COLORREF c = dc.TextColor();
      pal.setColor(QPalette::WindowText, QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
      item->widget->setPalette(pal);
    }
  }
}

CWnd* CDialog::GetDlgItem(int id) const {
  for (Item* item : items_) {
    if (item->control.id != id || id < 0) continue;
    if (!item->wrapper) {
      item->wrapper = new CWnd;
      item->wrapper->Attach(item->widget);
      item->ownsWrapper = true;
    }
    return item->wrapper;
  }
  return nullptr;
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  CDialog* dialog = pDX->Dialog();
  CWnd* existing = dialog->GetDlgItem(id);
  if (!existing || control.Widget()) return;
  control.Attach(existing->Widget());
}

BOOL CDialog::OnInitDialog() {
  CDataExchange dx(this);
  DoDataExchange(&dx);
  return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCommand(UINT id) {
  if (id == IDOK) {
    OnOK();
    return TRUE;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return TRUE;
  }
  return FALSE;
}

BOOL CDialog::PreTranslateMessage(MSG*) { return FALSE; }

HBRUSH CDialog::OnCtlColor(CDC*, CWnd*, UINT) { return nullptr; }

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) return OnCommand(static_cast<UINT>(LOWORD(wParam)));
  if (message == WM_PAINT && items_.empty()) {
    // A dialog without controls paints its surface, erased to the dialog colour.
    Surface().fill(
        QColor(GetRValue(kDialogFaceColour), GetGValue(kDialogFaceColour), GetBValue(kDialogFaceColour)));
    SurfaceChanged();
    return 0;
  }
  return CWnd::WindowProc(message, wParam, lParam);
}

void CDialog::DefaultKey(int virtualKey) {
  MSG msg{m_hWnd, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 0};
  if (PreTranslateMessage(&msg)) return;
  WindowProc(WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 0);
  if (ended_) return;
  if (virtualKey == VK_ESCAPE)
    WindowProc(WM_COMMAND, IDCANCEL, 0);
  else if (virtualKey == VK_RETURN)
    WindowProc(WM_COMMAND, IDOK, 0);
}

void CDialog::EndDialog(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  if (auto* dlg = qobject_cast<QDialog*>(Widget())) dlg->done(result);
}

// What a hook can do with an open dialog.
class DialogAnswer : public ModalAnswer {
 public:
  explicit DialogAnswer(CDialog* dialog) : dialog_(dialog) {}
  bool PressButton(const std::string& text) override {
    for (CDialog::Item* item : dialog_->items_) {
      auto* b = qobject_cast<QPushButton*>(item->widget);
      if (b && !dialog_->ended_ && b->text().remove('&') == QString::fromStdString(text)) {
        b->click();
        return true;
      }
    }
    return false;
  }
  bool ChooseEntry(int index) override {
    for (CDialog::Item* item : dialog_->items_) {
      if (auto* combo = qobject_cast<QComboBox*>(item->widget)) {
        if (index >= combo->count()) return false;
        combo->setCurrentIndex(index);
        return true;
      }
    }
    return false;
  }
  void SendKey(int virtualKey) override {
    if (!dialog_->ended_) dialog_->DefaultKey(virtualKey);
  }
  void SendCommand(int id) override {
    if (!dialog_->ended_) dialog_->WindowProc(WM_COMMAND, static_cast<WPARAM>(id), 0);
  }
  bool Closed() const override { return dialog_->ended_; }

 private:
  CDialog* dialog_;
};

INT_PTR CDialog::DoModal() {
  if (running_) return -1;
  running_ = true;
  ended_ = false;
  result_ = 0;
  Build();
  if (WindowProc(WM_CREATE, 0, 0) == -1) {
    TearDown();
    return -1;
  }
  WindowProc(WM_INITDIALOG, 0, 0);
  OnInitDialog();
  ApplyControlColours();
  auto* dlg = qobject_cast<QDialog*>(Widget());
  QTimer::singleShot(0, dlg, [this] {
    DialogAnswer answer(this);
    if (const ModalHook& hook = GetModalHook()) {
      ModalInfo info;
      info.kind = items_.empty() ? "view" : "dialog";
      info.title = AnsiToUtf8(template_->caption, DisplayCodePage());
      for (Item* item : items_) {
        if (auto* l = qobject_cast<QLabel*>(item->widget); l && !l->text().isEmpty())
          info.texts.push_back(l->text().toStdString());
        if (auto* b = qobject_cast<QPushButton*>(item->widget))
          info.buttons.push_back(b->text().toStdString());
        if (auto* combo = qobject_cast<QComboBox*>(item->widget))
          for (int i = 0; i < combo->count(); ++i) info.entries.push_back(combo->itemText(i).toStdString());
      }
      hook(info, answer);
    }
    // Nobody can answer a dialog on the offscreen platform: it is cancelled.
    if (!ended_ && IsHeadless()) answer.SendCommand(IDCANCEL);
    if (!ended_ && IsHeadless()) EndDialog(IDCANCEL);
  });
  if (!ended_) dlg->exec();
  TearDown();
  return result_;
}

void CDialog::TearDown() {
  DestroyWindow();
  for (Item* item : items_) {
    if (item->ownsWrapper) delete item->wrapper;
    delete item;
  }
  items_.clear();
  running_ = false;
}

int CComboBox::InsertString(int index, LPCSTR text) {
  auto* combo = qobject_cast<QComboBox*>(Widget());
  if (!combo) return CB_ERR;
  if (index > combo->count()) return CB_ERR;
  const int at = index < 0 ? combo->count() : index;
  const int current = combo->currentIndex();
  combo->insertItem(at, FromAnsi(text ? text : ""));
  combo->setCurrentIndex(current < 0 ? -1 : current);
  if (current < 0) combo->setEditText(QString());
  return at;
}

int CComboBox::GetCurSel() const {
  auto* combo = qobject_cast<QComboBox*>(Widget());
  if (!combo) return CB_ERR;
  const int i = combo->currentIndex();
  // Text typed into the edit field that matches no entry is no selection.
  if (i >= 0 && combo->isEditable() && combo->currentText() != combo->itemText(i)) return CB_ERR;
  return i < 0 ? CB_ERR : i;
}

int CComboBox::SetCurSel(int index) {
  auto* combo = qobject_cast<QComboBox*>(Widget());
  if (!combo || index >= combo->count()) return CB_ERR;
  combo->setCurrentIndex(index);
  return index < 0 ? CB_ERR : index;
}

int CComboBox::GetCount() const {
  auto* combo = qobject_cast<QComboBox*>(Widget());
  return combo ? combo->count() : CB_ERR;
}

std::string CComboBox::GetLBText(int index) const {
  auto* combo = qobject_cast<QComboBox*>(Widget());
  if (!combo || index < 0 || index >= combo->count()) return {};
  return Utf8ToAnsi(combo->itemText(index).toStdString(), DisplayCodePage());
}

BOOL CMenu::CreatePopupMenu() {
  if (created_) return FALSE;
  created_ = true;
  items_.clear();
  return TRUE;
}

BOOL CMenu::AppendMenu(UINT, UINT_PTR id, LPCSTR text) {
  if (!created_) return FALSE;
  items_.push_back({id, text ? text : ""});
  return TRUE;
}

BOOL CMenu::DestroyMenu() {
  if (!created_) return FALSE;
  created_ = false;
  items_.clear();
  return TRUE;
}

namespace {

class MenuAnswer : public ModalAnswer {
 public:
  explicit MenuAnswer(int count) : count_(count) {}
  bool PressButton(const std::string&) override { return false; }
  bool ChooseEntry(int index) override {
    if (index < 0 || index >= count_) return false;
    chosen_ = index;
    return true;
  }
  void SendKey(int virtualKey) override {
    if (virtualKey == VK_ESCAPE) escaped_ = true;
  }
  void SendCommand(int) override {}
  bool Closed() const override { return chosen_ >= 0 || escaped_; }
  int Chosen() const { return chosen_; }

 private:
  int count_;
  int chosen_ = -1;
  bool escaped_ = false;
};

}  // namespace

BOOL CMenu::TrackPopupMenu(UINT, int x, int y, CWnd* target) {
  if (!created_) return FALSE;
  int chosen = -1;
  const ModalHook& hook = GetModalHook();
  if (hook || IsHeadless()) {
    MenuAnswer answer(static_cast<int>(items_.size()));
    if (hook) {
      ModalInfo info;
      info.kind = "menu";
      for (const Entry& e : items_) info.entries.push_back(AnsiToUtf8(e.text, DisplayCodePage()));
      hook(info, answer);
    }
    chosen = answer.Chosen();
  } else {
    QMenu menu;
    std::vector<QAction*> actions;
    for (const Entry& e : items_) actions.push_back(menu.addAction(FromAnsi(e.text)));
    QAction* picked = menu.exec(QPoint(x, y));
    for (size_t i = 0; i < actions.size(); ++i)
      if (actions[i] == picked) chosen = static_cast<int>(i);
  }
  if (chosen >= 0 && target && IsWindow(target->m_hWnd))
    target->WindowProc(WM_COMMAND, items_[static_cast<size_t>(chosen)].id, 0);
  return TRUE;
}
