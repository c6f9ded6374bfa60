// The demo's hands: presses the window's button by itself, saves screenshots
// of the window and of the message that follows, dismisses the message and
// closes the window. Used only by tools/demo, which names the folder for the
// screenshots in FRN_DEMO_SHOTS.
#ifndef APP_DEMO_DRIVER_H_
#define APP_DEMO_DRIVER_H_

#include <QString>

namespace app {

class TMainForm;

// Schedules the demo on the running event loop: window.png, the press,
// message.png, OK, close. `form` must live until the loop ends.
void ScheduleDemo(TMainForm& form, const QString& shots_folder);

}  // namespace app

#endif  // APP_DEMO_DRIVER_H_
