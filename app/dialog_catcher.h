// Test helper: records every modal message box the code under test shows and
// dismisses it, as a person would, so that the modal loops return.
#ifndef APP_DIALOG_CATCHER_H_
#define APP_DIALOG_CATCHER_H_

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <QtTest/QTest>

#include <vector>

namespace app {

// What a person saw of one message box.
struct SeenMessageBox {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;  // the texts of the buttons, in order
  bool ok_is_default = false;
  bool ok_is_escape = false;
  bool application_modal = false;
  QRect frame;         // where it stood
  QRect screen;        // the screen it stood on
  bool cursor_overridden = false;  // an override cursor (the busy cursor) showed over it
};

class DialogCatcher {
 public:
  // How the box is dismissed: by Enter, by Escape, or by clicking OK.
  enum class Answer { kEnter, kEscape, kClickOk };

  explicit DialogCatcher(Answer answer = Answer::kEnter) : answer_(answer) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

  const std::vector<SeenMessageBox>& seen() const { return seen_; }

 private:
  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    SeenMessageBox record;
    record.caption = box->windowTitle();
    record.text = box->text();
    record.icon = box->icon();
    for (QAbstractButton* button : box->buttons()) record.buttons << button->text().remove(QLatin1Char('&'));
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    record.ok_is_default = ok != nullptr && box->defaultButton() == ok;
    record.ok_is_escape = ok != nullptr && box->escapeButton() == ok;
    record.application_modal = box->windowModality() == Qt::ApplicationModal;
    record.frame = box->frameGeometry();
    if (const QScreen* on = box->screen()) record.screen = on->geometry();
    record.cursor_overridden = QApplication::overrideCursor() != nullptr;
    seen_.push_back(record);
    const QPointer<QMessageBox> guard(box);
    switch (answer_) {
      case Answer::kEnter: QTest::keyClick(box, Qt::Key_Return); break;
      case Answer::kEscape: QTest::keyClick(box, Qt::Key_Escape); break;
      case Answer::kClickOk:
        if (ok != nullptr) ok->click();
        break;
    }
    // A box the answer did not close is closed anyway, so that no test hangs;
    // the test then sees it did not go.
    if (guard && guard->isVisible()) {
      seen_.back().buttons << QStringLiteral("<did not close>");
      guard->done(0);
    }
  }

  Answer answer_;
  QTimer timer_;
  std::vector<SeenMessageBox> seen_;
};

}  // namespace app

#endif  // APP_DIALOG_CATCHER_H_
