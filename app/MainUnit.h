// The main window: one button that runs the conversion, and the two data
// components the run works with. The window holds no logic beyond wiring:
// the run is conversion::RunConversion, the texts and the scaling arithmetic
// are in app_texts.h.
#ifndef APP_MAINUNIT_H_
#define APP_MAINUNIT_H_

#include <QString>
#include <QWidget>

#include <memory>

#include "app/form_backend.h"
#include "app/qt_ui_services.h"
#include "conversion/data_access.h"

class QCloseEvent;
class QPushButton;
class QShowEvent;

namespace app {

inline constexpr char kMainFormCaption[] = "Fiscal Rates Numeric";
inline constexpr char kButton1Caption[] = "Izvrsi";
inline constexpr char kMainFormFontFamily[] = "MS Sans Serif";
// The design: at 96 pixels per inch the font is 11 pixels high (-11, as the
// class library gives heights without internal leading) and its "0" is 13
// pixels high; the client area and the button are laid out for that.
inline constexpr int kDesignPixelsPerInch = 96;
inline constexpr int kDesignFontPixels = 11;
inline constexpr int kDesignTextHeight = 13;
inline constexpr int kDesignClientWidth = 175;
inline constexpr int kDesignClientHeight = 67;
inline constexpr int kDesignButtonLeft = 44;
inline constexpr int kDesignButtonTop = 20;
inline constexpr int kDesignButtonWidth = 75;
inline constexpr int kDesignButtonHeight = 25;

// The program's one window. Its components are public, as the class library
// publishes a form's components; they are created in the order declared and
// live as long as the window. Closing the window closes the table and the
// connection, reporting a failure to write; destroying it closes them too.
class TMainForm : public QWidget {
  Q_OBJECT

 public:
  // Creates the window and its components; opens and reads nothing. `title`
  // is the application's title, the caption of error reports. `backend` must
  // outlive the window. Throws what backend.CreateDataComponents() throws.
  TMainForm(FormBackend& backend, QString title, QWidget* parent = nullptr);
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Runs the conversion over the window's data components. Every error that
  // leaves the run is shown in the default error report here; nothing leaves.
  void Button1Click();

  QPushButton* Button1;  // owned by the window as its child
  std::unique_ptr<conversion::DataConnection> ADOConnection;
  std::unique_ptr<conversion::DataTable> ADOTable;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  FormBackend& backend_;
  QString title_;
  QtUiServices ui_;
  bool centred_ = false;
};

}  // namespace app

#endif  // APP_MAINUNIT_H_
