#include "app/demo_driver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>

#include "app/MainUnit.h"

namespace app {
namespace {

inline constexpr int kSettleMilliseconds = 400;
inline constexpr int kMargin = 12;

// Saves what the screen shows around `widgets` (with a margin), falling back
// to the first widget's own rendering where the screen cannot be read.
void SaveShot(const QList<QWidget*>& widgets, const QString& path) {
  QRect area;
  for (const QWidget* widget : widgets) area = area.united(widget->frameGeometry());
  area.adjust(-kMargin, -kMargin, kMargin, kMargin);
  QPixmap shot;
  if (QScreen* screen = widgets.front()->screen()) {
    area = area.intersected(screen->geometry());
    shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  }
  if (shot.isNull()) shot = widgets.front()->grab();
  if (shot.save(path)) std::printf("Saved %s\n", qPrintable(QDir::toNativeSeparators(path)));
  else std::fprintf(stderr, "Could not save %s\n", qPrintable(path));
  std::fflush(stdout);
}

}  // namespace

void ScheduleDemo(TMainForm& form, const QString& shots_folder) {
  QDir().mkpath(shots_folder);
  const QString window_shot = QDir(shots_folder).filePath(QStringLiteral("window.png"));
  const QString message_shot = QDir(shots_folder).filePath(QStringLiteral("message.png"));

  // Watches for the modal message of the run, shoots it once it has been
  // painted, and answers it with OK.
  auto* watcher = new QTimer(&form);
  watcher->setInterval(50);
  QObject::connect(watcher, &QTimer::timeout, &form, [&form, watcher, message_shot] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    watcher->stop();
    const QPointer<QMessageBox> guard(box);
    QTimer::singleShot(kSettleMilliseconds, &form, [&form, guard, message_shot] {
      if (!guard) return;
      SaveShot({guard.data(), &form}, message_shot);
      std::printf("The message: [%s] %s\n", qPrintable(guard->windowTitle()),
                  qPrintable(guard->text().replace(QLatin1Char('\n'), QLatin1Char(' '))));
      std::fflush(stdout);
      if (QAbstractButton* ok = guard->button(QMessageBox::Ok)) ok->click();
    });
  });

  QTimer::singleShot(kSettleMilliseconds, &form, [&form, watcher, window_shot] {
    SaveShot({&form}, window_shot);
    std::printf("Pressing %s\n", qPrintable(form.Button1->text()));
    std::fflush(stdout);
    watcher->start();
    form.Button1->click();  // returns when the message has been answered
    form.close();
  });
}

}  // namespace app
