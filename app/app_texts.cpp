#include "app/app_texts.h"

#include <QStringDecoder>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace app {

QString ApplicationTitle(const QString& executable_path) {
  QString name = executable_path.mid(executable_path.lastIndexOf(QLatin1Char('/')) + 1);
  const qsizetype period = name.indexOf(QLatin1Char('.'));
  if (period >= 0) name.truncate(period);
  if (name.isEmpty()) return name;
  // A character outside the Basic Multilingual Plane takes two UTF-16 units;
  // both belong to the first character.
  const qsizetype first_length = name.at(0).isHighSurrogate() && name.size() > 1 ? 2 : 1;
  return name.left(first_length) + name.mid(first_length).toLower();
}

QString ErrorReportText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

std::string StartupReportText(std::string_view class_name, std::string_view module,
                              const void* address, std::string_view message) {
  char address_text[2 * sizeof(std::uintptr_t) + 1];
  std::snprintf(address_text, sizeof address_text, "%0*" PRIXPTR,
                static_cast<int>(2 * sizeof(std::uintptr_t)), reinterpret_cast<std::uintptr_t>(address));
  std::string text = "Exception ";
  text += class_name;
  text += " in module ";
  text += module;
  text += " at ";
  text += address_text;
  text += ".\r\n";
  text += message;
  if (message.empty() || message.back() != '.') text += '.';
  text += "\r\n";
  return text;
}

QString DecodeMessage(std::string_view message, const conversion::CodePage* code_page) {
  QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  const QString text = utf8(QByteArrayView(message.data(), static_cast<qsizetype>(message.size())));
  if (!utf8.hasError()) return text;
  if (code_page != nullptr) {
    const std::u16string wide = code_page->ToWide(message);
    return QString(reinterpret_cast<const QChar*>(wide.data()), static_cast<qsizetype>(wide.size()));
  }
  return QString::fromLatin1(message.data(), static_cast<qsizetype>(message.size()));
}

int MulDiv(int value, int numerator, int denominator) {
  const std::int64_t product = static_cast<std::int64_t>(value) * numerator;
  const std::int64_t half = std::llabs(denominator) / 2;
  const bool negative = (product < 0) != (denominator < 0);
  const std::int64_t magnitude = (std::llabs(product) + half) / std::llabs(denominator);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

}  // namespace app
