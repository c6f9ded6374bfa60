// The user-interface services the run needs: the screen cursor and a modal
// message. app/ implements them with Qt; tests record the calls.
#ifndef CONVERSION_UI_SERVICES_H_
#define CONVERSION_UI_SERVICES_H_

#include <string_view>

namespace conversion {

// A screen cursor, numbered as the class library numbers its cursors; the
// user interface maps the numbers to its own shapes and keeps any other
// number it hands out as it is.
using ScreenCursor = int;
inline constexpr ScreenCursor kDefaultCursor = 0;
inline constexpr ScreenCursor kBusyCursor = -11;  // the hourglass

enum class MessageKind { kInformation, kWarning };

class UiServices {
 public:
  virtual ~UiServices() = default;

  // Returns the screen's current cursor.
  virtual ScreenCursor Cursor() const = 0;

  // Shows `cursor` over the whole application.
  virtual void SetCursor(ScreenCursor cursor) = 0;

  // Shows a modal message box centred on the screen with the icon of `kind`,
  // the caption and text given (ASCII), and a single OK button answering
  // Enter and Escape. Returns when the user dismisses it.
  virtual void ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) = 0;
};

}  // namespace conversion

#endif  // CONVERSION_UI_SERVICES_H_
