#include "app/qt_ui_services.h"

#include <QApplication>
#include <QCursor>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QWidget>

#include "app/app_texts.h"

namespace app {
namespace {

inline constexpr char kStartupReportCaption[] = "Application Error";

// A message box that centres itself on its screen once it knows its size;
// QMessageBox would centre on its parent window instead.
class CentredMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    if (event->spontaneous()) return;
    const QScreen* on = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (on == nullptr) return;
    QRect frame = frameGeometry();
    frame.moveCenter(on->geometry().center());
    move(frame.topLeft());
  }
};

// Returns the shape of a cursor numbered as the class library numbers its
// cursors; numbers without a shape of their own show the arrow.
Qt::CursorShape ShapeOf(conversion::ScreenCursor cursor) {
  switch (cursor) {
    case -3: return Qt::CrossCursor;
    case -4: return Qt::IBeamCursor;
    case -11: return Qt::WaitCursor;  // the hourglass
    case -12: return Qt::ForbiddenCursor;
    case -19: return Qt::BusyCursor;  // the arrow with an hourglass
    case -21: return Qt::PointingHandCursor;
    default: return Qt::ArrowCursor;
  }
}

}  // namespace

void ShowModalMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                      const QString& text) {
  CentredMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

void ShowErrorReport(QWidget* parent, const QString& title, const QString& message) {
  ShowModalMessage(parent, QMessageBox::Critical, title, ErrorReportText(message));
}

void ShowStartupReport(const QString& text) {
  // The form's "\r\n" line ends are for the text; a label shows "\n".
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  ShowModalMessage(nullptr, QMessageBox::Critical, QString::fromLatin1(kStartupReportCaption),
                   shown.trimmed());
}

QtUiServices::QtUiServices(QWidget* window) : window_(window) {}

QtUiServices::~QtUiServices() {
  if (override_set_) QApplication::restoreOverrideCursor();
}

conversion::ScreenCursor QtUiServices::Cursor() const { return cursor_; }

void QtUiServices::SetCursor(conversion::ScreenCursor cursor) {
  if (override_set_) {
    QApplication::restoreOverrideCursor();
    override_set_ = false;
  }
  if (cursor != conversion::kDefaultCursor) {
    QApplication::setOverrideCursor(QCursor(ShapeOf(cursor)));
    override_set_ = true;
  }
  cursor_ = cursor;
}

void QtUiServices::ShowMessage(conversion::MessageKind kind, std::string_view caption,
                               std::string_view text) {
  const QMessageBox::Icon icon =
      kind == conversion::MessageKind::kWarning ? QMessageBox::Warning : QMessageBox::Information;
  ShowModalMessage(window_, icon, DecodeMessage(caption, nullptr), DecodeMessage(text, nullptr));
}

}  // namespace app
