// The user-interface services of the run (the screen cursor and the modal
// message) and the application's error reports, made with Qt Widgets.
#ifndef APP_QT_UI_SERVICES_H_
#define APP_QT_UI_SERVICES_H_

#include <QMessageBox>
#include <QString>

#include <string_view>

#include "conversion/ui_services.h"

class QWidget;

namespace app {

// Shows a modal message box centred on the screen: `icon`, `caption`, `text`
// and a single OK button that answers both Enter and Escape. `parent` (may be
// null) is the window the box belongs to. Returns when the user dismisses it.
void ShowModalMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                      const QString& text);

// Shows the default error report for an error's message: the message by the
// rule of ErrorReportText, the application's `title` as caption, the error
// icon and OK.
void ShowErrorReport(QWidget* parent, const QString& title, const QString& message);

// Shows the start-up error report: caption "Application Error", the error
// icon and OK, modal to the whole application. `text` is StartupReportText.
void ShowStartupReport(const QString& text);

// The run's cursor and messages. The busy cursor is an application-wide
// override cursor, so it shows over every window until it is restored.
class QtUiServices : public conversion::UiServices {
 public:
  // Messages belong to `window`, which must outlive this object.
  explicit QtUiServices(QWidget* window);
  ~QtUiServices() override;
  QtUiServices(const QtUiServices&) = delete;
  QtUiServices& operator=(const QtUiServices&) = delete;

  conversion::ScreenCursor Cursor() const override;
  void SetCursor(conversion::ScreenCursor cursor) override;
  void ShowMessage(conversion::MessageKind kind, std::string_view caption,
                   std::string_view text) override;

 private:
  QWidget* window_;
  conversion::ScreenCursor cursor_ = conversion::kDefaultCursor;
  bool override_set_ = false;
};

}  // namespace app

#endif  // APP_QT_UI_SERVICES_H_
