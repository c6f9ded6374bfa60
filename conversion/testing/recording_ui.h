// User-interface services for tests: every cursor change and message is
// recorded instead of shown.
#ifndef CONVERSION_TESTING_RECORDING_UI_H_
#define CONVERSION_TESTING_RECORDING_UI_H_

#include <string>
#include <string_view>
#include <vector>

#include "conversion/ui_services.h"

namespace conversion::testing {

class RecordingUi : public UiServices {
 public:
  struct Message {
    MessageKind kind;
    std::string caption;
    std::string text;
  };

  ScreenCursor Cursor() const override { return cursor; }
  void SetCursor(ScreenCursor new_cursor) override {
    cursor = new_cursor;
    cursor_history.push_back(new_cursor);
  }
  void ShowMessage(MessageKind kind, std::string_view caption, std::string_view text) override {
    messages.push_back({kind, std::string(caption), std::string(text)});
  }

  ScreenCursor cursor = kDefaultCursor;
  std::vector<ScreenCursor> cursor_history;
  std::vector<Message> messages;
};

}  // namespace conversion::testing

#endif  // CONVERSION_TESTING_RECORDING_UI_H_
