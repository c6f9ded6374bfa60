// The small rules of the application shell that a person can read off the
// screen: the application's title, the texts of the two error reports, and
// the design-scale arithmetic of the window. Pure functions, no widgets.
#ifndef APP_APP_TEXTS_H_
#define APP_APP_TEXTS_H_

#include <QString>

#include <string>
#include <string_view>

#include "conversion/code_page.h"

namespace app {

// Returns the application's title made from the executable's path: the folder
// and everything from the file name's first period on are dropped, and every
// character after the first is put in lower case ("/usr/bin/Frn.bin" ->
// "Frn"). The first character is kept as it is.
QString ApplicationTitle(const QString& executable_path);

// Returns the text of the default error report for an error's message: the
// message, with a period appended when its last character sorts after '.'
// (a letter or a digit, say, but not a closing quote or a period).
QString ErrorReportText(const QString& message);

// Returns the text of the start-up error report, in the form
// "Exception %s in module %s at %p.\r\n%s%s\r\n": the error's class name, the
// module's file name, the address, the message, and a period when the message
// does not end in one.
std::string StartupReportText(std::string_view class_name, std::string_view module,
                              const void* address, std::string_view message);

// Returns an error's 8-bit message as text to show. Encoding: messages are
// UTF-8; one that is not (a path from the registry, say, inserted in the ANSI
// code page) is read in `code_page` when there is one, else as Latin-1, so
// that no byte is lost from the report.
QString DecodeMessage(std::string_view message, const conversion::CodePage* code_page);

// Returns `value` * `numerator` / `denominator`, rounded to the nearest whole
// number with halves away from zero, as the window's design scaling rounds.
// `denominator` must not be 0.
int MulDiv(int value, int numerator, int denominator);

}  // namespace app

#endif  // APP_APP_TEXTS_H_
