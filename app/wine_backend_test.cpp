// The whole program behind the window: the Jet engine and a Wine prefix made
// for each test, the button pressed as a person would, and the database
// checked afterwards with mdb-export, a reader of its own.
#include "app/wine_backend.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainUnit.h"
#include "app/dialog_catcher.h"

namespace app {
namespace {

namespace fs = std::filesystem;

const QString kTitle = QStringLiteral("fiscal-rates-numeric");
const fs::path kFixtures = FRN_FIXTURES_DIR;
const char kDatabaseDosPath[] = "Program Files/Zarvel/Trelon F/podaci.dtb";

// user.reg lines as Wine writes them.
const std::string kUserRegHeader =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Control Panel\\\\International] 1765400000\n"
    "#time=1dc6a8f2b5a3c00\n"
    "\"LocaleName\"=\"sr-Cyrl-RS\"\n";
const std::string kSettingsKey =
    "\n[Software\\\\Zarvel\\\\Trelon 3] 1765400000\n"
    "#time=1dc6a8f2b5a3c00\n"
    "\"PUTANJA_BAZE\"=\"C:\\\\Program Files\\\\Zarvel\\\\Trelon F\\\\podaci.dtb\"\n";
const std::string kDefaultLabels =
    "\n[Software\\\\Zarvel\\\\Trelon 3\\\\FiscalPrinter] 1765400000\n"
    "#time=1dc6a8f2b5a3c00\n"
    "\"FM_FISCALLABELS\"=\"\\x410\\x413\\x414\\x402\\x415\\x416\\x418\\x408\\x41a\"\n";

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// A Wine prefix in a temporary folder: user.reg, dosdevices/c: -> ../drive_c,
// and the database at the default path when one is given.
class TemporaryPrefix {
 public:
  TemporaryPrefix(const std::string& user_reg, const std::string& fixture) {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("frn-app-test-" + std::to_string(random()));
    fs::create_directories(path_ / "dosdevices");
    fs::create_directories(path_ / "drive_c");
    fs::create_directory_symlink("../drive_c", path_ / "dosdevices" / "c:");
    std::ofstream(path_ / "user.reg", std::ios::binary) << user_reg;
    if (!fixture.empty()) {
      fs::create_directories(database().parent_path());
      fs::copy_file(kFixtures / "artikli" / fixture, database());
    }
  }
  ~TemporaryPrefix() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TemporaryPrefix(const TemporaryPrefix&) = delete;
  TemporaryPrefix& operator=(const TemporaryPrefix&) = delete;

  const fs::path& path() const { return path_; }
  fs::path database() const { return path_ / "drive_c" / kDatabaseDosPath; }

 private:
  fs::path path_;
};

// Returns Sifra -> PoreskaStopa of the table Artikli as mdb-export reads it;
// NULL and the empty text both read as "".
std::map<QString, QString> ExportRates(const fs::path& database) {
  QProcess process;
  process.start(QStringLiteral(FRN_MDB_EXPORT), {QString::fromStdString(database.string()), QStringLiteral("Artikli")});
  EXPECT_TRUE(process.waitForFinished(30000));
  EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
  const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
  std::map<QString, QString> rates;
  for (qsizetype i = 1; i < lines.size(); ++i) {  // line 0 is the header
    if (lines[i].isEmpty()) continue;
    // Fields are separated by commas; text is quoted and holds no quotes here.
    QStringList fields;
    QString field;
    bool quoted = false;
    for (const QChar c : lines[i]) {
      if (c == QLatin1Char('"')) quoted = !quoted;
      else if (c == QLatin1Char(',') && !quoted) fields << std::exchange(field, QString());
      else field += c;
    }
    fields << field;
    EXPECT_EQ(fields.size(), 5) << lines[i].toStdString();
    if (fields.size() == 5) rates[fields[0]] = fields[3];
  }
  return rates;
}

// Returns Sifra -> PoreskaStopa of the sidecar's rows_after.
std::map<QString, QString> ExpectedRates(const std::string& fixture) {
  QFile sidecar(QString::fromStdString((kFixtures / "artikli" / fixture).replace_extension(".json").string()));
  EXPECT_TRUE(sidecar.open(QIODevice::ReadOnly));
  const QJsonObject root = QJsonDocument::fromJson(sidecar.readAll()).object();
  std::map<QString, QString> rates;
  for (const QJsonValue row : root[QStringLiteral("rows_after")].toArray()) {
    const QJsonArray values = row.toArray();
    rates[QString::number(values[0].toInteger())] = values[3].toString();  // null reads as ""
  }
  return rates;
}

// Creates the window over the prefix, presses the button once and closes the
// window (which closes the database); returns what the person saw.
std::vector<SeenMessageBox> PressOnce(const TemporaryPrefix& prefix) {
  WineBackend backend(prefix.path());
  TMainForm form(backend, kTitle);
  form.show();
  DialogCatcher catcher;
  form.Button1->click();
  EXPECT_TRUE(form.Button1->isEnabled());
  EXPECT_TRUE(form.Button1->isVisible());
  form.close();
  return catcher.seen();
}

TEST(WineBackendTest, ConvertsTheDatabaseAsItsSidecarSays) {
  struct Case {
    const char* fixture;
    std::string labels_key;
    const char* caption;
    const char* text;
  };
  const Case cases[] = {
      {"artikli-basic.mdb", kDefaultLabels, "Information", "Konverzija je izvrsena!"},
      // Twelve labels: Y and Z would become 10 and 11, which do not fit the
      // one-character column, so those six rows keep their value.
      {"artikli-narrow.mdb",
       "\n[Software\\\\Zarvel\\\\Trelon 3\\\\FiscalPrinter] 1765400000\n"
       "\"FM_FISCALLABELS\"=\"\\x410\\x413\\x414\\x402\\x415\\x416\\x418\\x408\\x41aXYZ\"\n",
       "Warning", "Konverzija je izvrsena!\nBroj redova koji nisu konvertovani: 6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    TemporaryPrefix prefix(kUserRegHeader + kSettingsKey + c.labels_key, c.fixture);
    const std::vector<SeenMessageBox> seen = PressOnce(prefix);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, QString::fromUtf8(c.caption));
    EXPECT_EQ(seen[0].text, QString::fromUtf8(c.text));
    EXPECT_EQ(ExportRates(prefix.database()), ExpectedRates(c.fixture));
  }
}

TEST(WineBackendTest, FailuresShowOneErrorReportAndChangeNothing) {
  struct Case {
    const char* what;
    std::string user_reg;
    const char* fixture;  // "" for no database at all
    const char* expected_text;  // "{file}" stands for the file the run looked for
  };
  const Case cases[] = {
      {"missing database", kUserRegHeader + kSettingsKey + kDefaultLabels, "",
       "Could not find file '{file}'."},
      {"wrong password", kUserRegHeader + kSettingsKey + kDefaultLabels, "artikli-other-password.mdb",
       "Not a valid password."},
      {"wrong-type registry value",
       kUserRegHeader + kSettingsKey +
           "\n[Software\\\\Zarvel\\\\Trelon 3\\\\FiscalPrinter] 1765400000\n\"FM_FISCALLABELS\"=dword:00000001\n",
       "artikli-basic.mdb", "Invalid data type for 'FM_FISCALLABELS'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TemporaryPrefix prefix(c.user_reg, c.fixture);
    const std::string before = *c.fixture ? ReadBytes(prefix.database()) : std::string();

    WineBackend backend(prefix.path());
    TMainForm form(backend, kTitle);
    form.show();
    DialogCatcher catcher;
    form.Button1->click();

    ASSERT_EQ(catcher.seen().size(), 1u);
    const SeenMessageBox report = catcher.seen()[0];
    EXPECT_EQ(report.caption, kTitle);
    EXPECT_EQ(report.icon, QMessageBox::Critical);
    EXPECT_EQ(report.buttons, QStringList{QStringLiteral("OK")});
    const std::string file = (prefix.path() / "dosdevices" / "c:" / kDatabaseDosPath).string();
    EXPECT_EQ(report.text, QString::fromUtf8(c.expected_text).replace(QStringLiteral("{file}"), QString::fromStdString(file)));
    EXPECT_FALSE(report.cursor_overridden);

    // The window stays usable: a further press reports the same again.
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.Button1->isEnabled());
    form.Button1->click();
    ASSERT_EQ(catcher.seen().size(), 2u);
    EXPECT_EQ(catcher.seen()[1].text, report.text);
    form.close();

    if (*c.fixture) {
      EXPECT_EQ(ReadBytes(prefix.database()), before);
    } else {
      EXPECT_FALSE(fs::exists(prefix.database()));
    }
  }
}

TEST(WineBackendTest, ClosingWithoutPressingTouchesNothing) {
  TemporaryPrefix prefix(kUserRegHeader, "artikli-basic.mdb");
  const std::string user_reg = ReadBytes(prefix.path() / "user.reg");
  const std::string database = ReadBytes(prefix.database());
  const auto database_time = fs::last_write_time(prefix.database());
  {
    WineBackend backend(prefix.path());
    TMainForm form(backend, kTitle);
    form.show();
    form.close();
  }
  EXPECT_EQ(ReadBytes(prefix.path() / "user.reg"), user_reg);  // no key created
  EXPECT_EQ(ReadBytes(prefix.database()), database);
  EXPECT_EQ(fs::last_write_time(prefix.database()), database_time);
  EXPECT_FALSE(fs::exists(prefix.database().parent_path() / "podaci.ldb"));
}

}  // namespace
}  // namespace app
