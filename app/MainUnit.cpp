#include "app/MainUnit.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QCloseEvent>

#include <exception>
#include <utility>

#include "app/app_texts.h"
#include "conversion/conversion_run.h"

namespace app {
namespace {

// Returns a stock application icon, drawn: a blank window with a title bar,
// at the two sizes a task bar and a title bar ask for.
QIcon ApplicationIcon() {
  QIcon icon;
  for (const int size : {16, 32}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const int margin = size / 8;
    const QRect frame(margin, margin + size / 16, size - 2 * margin - 1, size - 2 * margin - size / 8 - 1);
    painter.setPen(QColor(64, 64, 64));
    painter.setBrush(Qt::white);
    painter.drawRect(frame);
    painter.fillRect(QRect(frame.left() + 1, frame.top() + 1, frame.width() - 1, size / 6), QColor(0, 0, 128));
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

// Returns the window's font: the design's font, scaled when the screen's
// pixels per inch differ from the design's.
QFont MainFormFont() {
  QFont font(QString::fromLatin1(kMainFormFontFamily));
  // Where "MS Sans Serif" is absent, the font system's sans-serif substitute
  // stands in for it.
  font.setStyleHint(QFont::SansSerif);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  int pixels = kDesignFontPixels;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const int dpi = qRound(screen->logicalDotsPerInchY());
    if (dpi > 0 && dpi != kDesignPixelsPerInch) pixels = MulDiv(pixels, dpi, kDesignPixelsPerInch);
  }
  font.setPixelSize(pixels);
  return font;
}

}  // namespace

TMainForm::TMainForm(FormBackend& backend, QString title, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      Button1(new QPushButton(this)),
      backend_(backend),
      title_(std::move(title)),
      ui_(this) {
  DataComponents components = backend.CreateDataComponents();
  ADOConnection = std::move(components.connection);
  ADOTable = std::move(components.table);

  setWindowTitle(QString::fromLatin1(kMainFormCaption));
  setWindowIcon(ApplicationIcon());
  setFont(MainFormFont());
  QPalette colours = palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Button));
  setPalette(colours);
  setAutoFillBackground(true);

  // The layout follows the font: only when the "0" of the window's font is
  // not as high as the design's is everything scaled by the two heights.
  const int text_height = QFontMetrics(font()).height();
  const auto scale = [text_height](int design) {
    return text_height == kDesignTextHeight ? design : MulDiv(design, text_height, kDesignTextHeight);
  };
  setFixedSize(scale(kDesignClientWidth), scale(kDesignClientHeight));
  Button1->setGeometry(scale(kDesignButtonLeft), scale(kDesignButtonTop), scale(kDesignButtonWidth),
                       scale(kDesignButtonHeight));
  Button1->setText(QString::fromLatin1(kButton1Caption));
  Button1->setFocusPolicy(Qt::StrongFocus);
  Button1->setFocus(Qt::OtherFocusReason);
  connect(Button1, &QPushButton::clicked, this, &TMainForm::Button1Click);
}

TMainForm::~TMainForm() {
  // The table goes before the connection it is bound to; the connection
  // closes, and so flushes, as it is destroyed.
  ADOTable.reset();
  ADOConnection.reset();
}

void TMainForm::Button1Click() {
  // Nothing may leave a Qt slot: every error ends here in the error report.
  RunServices services;
  try {
    services = backend_.OpenRunServices();
    conversion::RunConversion({*services.settings, *services.code_page, *ADOConnection, *ADOTable, ui_});
  } catch (const std::exception& error) {
    ShowErrorReport(this, title_, DecodeMessage(error.what(), services.code_page.get()));
  } catch (...) {
    ShowErrorReport(this, title_, QStringLiteral("Unknown error"));
  }
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Closing writes out what the run left in the table and makes it durable;
  // a failure there is reported rather than lost in a destructor. The window
  // closes either way: there is nothing the user could do differently.
  try {
    backend_.CloseDataComponents(*ADOConnection, *ADOTable);
  } catch (const std::exception& error) {
    ShowErrorReport(this, title_, DecodeMessage(error.what(), nullptr));
  } catch (...) {
    ShowErrorReport(this, title_, QStringLiteral("Unknown error"));
  }
  event->accept();
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (centred_) return;
  centred_ = true;
  // Centred on the desktop when first shown, frame included.
  const QScreen* on = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (on == nullptr) return;
  QRect frame = frameGeometry();
  frame.moveCenter(on->geometry().center());
  move(frame.topLeft());
}

}  // namespace app
