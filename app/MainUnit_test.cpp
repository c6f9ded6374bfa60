#include "app/MainUnit.h"

#include <QApplication>
#include <QCursor>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPushButton>
#include <QScreen>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/app_texts.h"
#include "app/dialog_catcher.h"
#include "app/qt_ui_services.h"

namespace app {
namespace {

// What the fakes saw, kept outside them so that it outlives the window.
struct Journal {
  std::vector<std::string> events;
  int settings_opened = 0;
  int connection_opens = 0;
  std::vector<Qt::CursorShape> cursor_while_walking;
};

// Windows-1251 for the Cyrillic capitals and Ђ, Ј; Latin-1 below 0x100.
class SmallCodePage : public conversion::CodePage {
 public:
  std::optional<std::string> ToAnsi(std::u16string_view text) const override {
    std::string ansi;
    for (const char16_t c : text) {
      if (c < 0x80) ansi += static_cast<char>(c);
      else if (c >= 0x410 && c <= 0x42F) ansi += static_cast<char>(0xC0 + (c - 0x410));
      else if (c == 0x402) ansi += '\x80';
      else if (c == 0x408) ansi += '\xA3';
      else return std::nullopt;
    }
    return ansi;
  }
  std::u16string ToWide(std::string_view text) const override {
    std::u16string wide;
    for (const char byte : text) {
      const auto b = static_cast<unsigned char>(byte);
      if (b < 0x80) wide += static_cast<char16_t>(b);
      else if (b >= 0xC0) wide += static_cast<char16_t>(0x410 + (b - 0xC0));
      else if (b == 0x80) wide += u'\u0402';
      else if (b == 0xA3) wide += u'\u0408';
      else wide += u'\uFFFD';
    }
    return wide;
  }
};

class MemoryKey : public conversion::SettingsKey {
 public:
  explicit MemoryKey(std::map<std::string, conversion::SettingsValue> values) : values_(std::move(values)) {}
  std::unique_ptr<conversion::SettingsKey> OpenSubKey(std::string_view) override { return nullptr; }
  std::optional<conversion::SettingsValue> QueryValue(std::string_view name) override {
    const auto found = values_.find(std::string(name));
    if (found == values_.end()) return std::nullopt;
    return found->second;
  }

 private:
  std::map<std::string, conversion::SettingsValue> values_;
};

// The settings key with the values given; the subkey FiscalPrinter is absent,
// so the default labels apply.
class MemorySettingsStore : public conversion::SettingsStore {
 public:
  MemorySettingsStore(Journal& journal, std::map<std::string, conversion::SettingsValue> values)
      : journal_(journal), values_(std::move(values)) {}
  std::unique_ptr<conversion::SettingsKey> Root() override { return std::make_unique<MemoryKey>(values_); }
  std::unique_ptr<conversion::SettingsKey> CreateKey(std::string_view path) override {
    journal_.events.push_back("create key " + std::string(path));
    return std::make_unique<MemoryKey>(values_);
  }

 private:
  Journal& journal_;
  std::map<std::string, conversion::SettingsValue> values_;
};

class FakeConnection : public conversion::DataConnection {
 public:
  FakeConnection(Journal& journal, std::optional<std::string> open_error)
      : journal_(journal), open_error_(std::move(open_error)) {}
  ~FakeConnection() override { journal_.events.push_back("connection closed"); }
  void SetConnectionString(std::u16string_view) override {}
  void Open() override {
    ++journal_.connection_opens;
    if (open_error_) throw std::runtime_error(*open_error_);
  }

 private:
  Journal& journal_;
  std::optional<std::string> open_error_;
};

// The table "Artikli" with one column PoreskaStopa; the rows numbered in
// `refused` (from 0) are refused at post.
class FakeTable : public conversion::DataTable, public conversion::DataField {
 public:
  FakeTable(Journal& journal, std::vector<std::u16string> rows, std::set<std::size_t> refused)
      : journal_(journal), rows_(std::move(rows)), refused_(std::move(refused)) {}
  ~FakeTable() override { journal_.events.push_back("table closed"); }
  void Open() override {}
  void First() override { row_ = 0; }
  bool AtEnd() override { return row_ >= rows_.size(); }
  conversion::DataField& FieldByName(std::string_view name) override {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower != "poreskastopa") throw std::runtime_error("no column");
    return *this;
  }
  void Edit() override { pending_ = rows_.at(row_); }
  void Post() override {
    if (refused_.count(row_) != 0) throw std::runtime_error("refused");
    rows_.at(row_) = *pending_;
    pending_.reset();
  }
  void Cancel() override { pending_.reset(); }
  void Next() override {
    const QCursor* cursor = QApplication::overrideCursor();
    journal_.cursor_while_walking.push_back(cursor != nullptr ? cursor->shape() : Qt::ArrowCursor);
    ++row_;
  }
  std::u16string AsText() override { return rows_.at(row_); }
  void SetText(std::u16string_view text) override { pending_ = std::u16string(text); }

  const std::vector<std::u16string>& rows() const { return rows_; }

 private:
  Journal& journal_;
  std::vector<std::u16string> rows_;
  std::set<std::size_t> refused_;
  std::size_t row_ = 0;
  std::optional<std::u16string> pending_;
};

class FakeBackend : public FormBackend {
 public:
  Journal journal;
  std::vector<std::u16string> rows;
  std::set<std::size_t> refused_rows;
  std::map<std::string, conversion::SettingsValue> settings;
  std::optional<std::string> open_error;      // thrown by the connection's Open
  std::optional<std::string> settings_error;  // thrown when the settings are opened
  std::optional<std::string> close_error;     // thrown when the window closes them
  FakeTable* table = nullptr;

  DataComponents CreateDataComponents() override {
    journal.events.push_back("create connection");
    auto connection = std::make_unique<FakeConnection>(journal, open_error);
    journal.events.push_back("create table");
    auto created = std::make_unique<FakeTable>(journal, rows, refused_rows);
    table = created.get();
    return {std::move(connection), std::move(created)};
  }
  RunServices OpenRunServices() override {
    ++journal.settings_opened;
    if (settings_error) throw std::runtime_error(*settings_error);
    RunServices services;
    services.code_page = std::make_unique<SmallCodePage>();
    services.settings = std::make_unique<MemorySettingsStore>(journal, settings);
    return services;
  }
  void CloseDataComponents(conversion::DataConnection&, conversion::DataTable&) override {
    journal.events.push_back("closed by the window");
    if (close_error) throw std::runtime_error(*close_error);
  }
};

const QString kTitle = QStringLiteral("fiscal-rates-numeric");

TEST(TMainFormTest, LooksAsDesigned) {
  FakeBackend backend;
  TMainForm form(backend, kTitle);
  form.show();

  EXPECT_EQ(form.windowTitle(), QStringLiteral("Fiscal Rates Numeric"));
  const Qt::WindowFlags flags = form.windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));  // only the hints asked for
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());  // fixed size

  EXPECT_EQ(form.font().family(), QStringLiteral("MS Sans Serif"));
  EXPECT_EQ(form.font().pixelSize(), MulDiv(11, qRound(form.screen()->logicalDotsPerInchY()), 96));
  EXPECT_EQ(form.font().weight(), QFont::Normal);
  EXPECT_FALSE(form.font().italic());
  EXPECT_FALSE(QFontInfo(form.font()).family().isEmpty());  // a substitute was found
  EXPECT_EQ(form.palette().color(QPalette::Window), form.palette().color(QPalette::Button));
  EXPECT_FALSE(form.windowIcon().isNull());

  // The design is laid out for a "0" 13 pixels high; the substitute font may
  // measure otherwise, and then everything scales by the two heights.
  const int text_height = QFontMetrics(form.font()).height();
  const auto scaled = [text_height](int design) {
    return text_height == 13 ? design : MulDiv(design, text_height, 13);
  };
  EXPECT_EQ(form.size(), QSize(scaled(175), scaled(67)));
  EXPECT_EQ(form.Button1->geometry(), QRect(scaled(44), scaled(20), scaled(75), scaled(25)));
  EXPECT_EQ(form.Button1->text(), QStringLiteral("Izvrsi"));
  EXPECT_TRUE(form.Button1->isEnabled());
  EXPECT_TRUE(form.Button1->isVisible());
  EXPECT_EQ(form.nextInFocusChain(), form.Button1);  // first in the tab order
  EXPECT_TRUE(form.Button1->focusPolicy() & Qt::TabFocus);
}

TEST(TMainFormTest, CentresItselfOnTheDesktop) {
  FakeBackend backend;
  TMainForm form(backend, kTitle);
  form.show();
  const QPoint offset = form.frameGeometry().center() - form.screen()->geometry().center();
  EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << ", " << offset.y();
}

TEST(TMainFormTest, CreatesItsComponentsInOrderAndReadsNothing) {
  FakeBackend backend;
  {
    TMainForm form(backend, kTitle);
    ASSERT_NE(form.Button1, nullptr);
    EXPECT_NE(form.ADOConnection, nullptr);
    EXPECT_NE(form.ADOTable, nullptr);
    form.show();
    form.close();
  }
  EXPECT_EQ(backend.journal.settings_opened, 0);
  EXPECT_EQ(backend.journal.connection_opens, 0);
  EXPECT_EQ(backend.journal.events,
            (std::vector<std::string>{"create connection", "create table", "closed by the window", "table closed",
                                      "connection closed"}));
}

TEST(TMainFormTest, ClickRunsTheConversionAndShowsTheInformation) {
  FakeBackend backend;
  backend.rows = {u"\u0410", u"\u041A", u"\u0413\u0414", u"\u0411", u"0", u""};
  TMainForm form(backend, kTitle);
  form.show();
  DialogCatcher catcher;
  QTest::mouseClick(form.Button1, Qt::LeftButton);

  EXPECT_EQ(backend.table->rows(), (std::vector<std::u16string>{u"0", u"8", u"1", u"\u0411", u"0", u""}));
  EXPECT_EQ(backend.journal.events.at(2), "create key Software\\Zarvel\\Trelon 3");
  ASSERT_EQ(catcher.seen().size(), 1u);
  const SeenMessageBox box = catcher.seen()[0];
  EXPECT_EQ(box.caption, QStringLiteral("Information"));
  EXPECT_EQ(box.text, QStringLiteral("Konverzija je izvrsena!"));
  EXPECT_EQ(box.icon, QMessageBox::Information);
  EXPECT_EQ(box.buttons, QStringList{QStringLiteral("OK")});
  EXPECT_TRUE(box.ok_is_default);
  EXPECT_TRUE(box.ok_is_escape);
  EXPECT_TRUE(box.application_modal);
  EXPECT_FALSE(box.cursor_overridden);  // the busy cursor is gone before the message
  const QPoint offset = box.frame.center() - box.screen.center();
  EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << ", " << offset.y();
}

TEST(TMainFormTest, ShowsTheBusyCursorWhileWalkingAndRestoresIt) {
  FakeBackend backend;
  backend.rows = {u"\u0410", u"\u0413"};
  TMainForm form(backend, kTitle);
  form.show();
  DialogCatcher catcher;
  form.Button1->click();
  EXPECT_EQ(backend.journal.cursor_while_walking,
            (std::vector<Qt::CursorShape>{Qt::WaitCursor, Qt::WaitCursor}));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(TMainFormTest, RefusedRowsShowTheWarning) {
  FakeBackend backend;
  backend.rows = {u"\u0410", u"\u0413", u"\u0414", u"\u0415"};
  backend.refused_rows = {1, 3};
  backend.settings["PUTANJA_BAZE"] = {1, "C:\\baza.dtb"};
  TMainForm form(backend, kTitle);
  form.show();
  DialogCatcher catcher;
  form.Button1->click();

  EXPECT_EQ(backend.table->rows(), (std::vector<std::u16string>{u"0", u"\u0413", u"2", u"\u0415"}));
  ASSERT_EQ(catcher.seen().size(), 1u);
  const SeenMessageBox box = catcher.seen()[0];
  EXPECT_EQ(box.caption, QStringLiteral("Warning"));
  EXPECT_EQ(box.text, QStringLiteral("Konverzija je izvrsena!\nBroj redova koji nisu konvertovani: 2"));
  EXPECT_EQ(box.icon, QMessageBox::Warning);
  EXPECT_EQ(box.buttons, QStringList{QStringLiteral("OK")});
  EXPECT_TRUE(box.ok_is_default);
  EXPECT_TRUE(box.ok_is_escape);
}

TEST(TMainFormTest, MessagesAnswerEnterEscapeAndClick) {
  const struct {
    const char* what;
    DialogCatcher::Answer answer;
  } cases[] = {
      {"Enter", DialogCatcher::Answer::kEnter},
      {"Escape", DialogCatcher::Answer::kEscape},
      {"click", DialogCatcher::Answer::kClickOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeBackend backend;
    TMainForm form(backend, kTitle);
    form.show();
    DialogCatcher catcher(c.answer);
    form.Button1->click();
    ASSERT_EQ(catcher.seen().size(), 1u);
    EXPECT_EQ(catcher.seen()[0].buttons, QStringList{QStringLiteral("OK")});  // no "<did not close>"
  }
}

TEST(TMainFormTest, ErrorsShowTheDefaultReportAndLeaveTheWindowUsable) {
  struct Case {
    const char* what;
    std::optional<std::string> settings_error;
    std::optional<std::string> open_error;
    std::map<std::string, conversion::SettingsValue> settings;
    QString text;
  };
  const Case cases[] = {
      {"message ending in a quote", std::nullopt, "Could not find file 'C:\\x.dtb'", {},
       QStringLiteral("Could not find file 'C:\\x.dtb'")},
      {"message ending in a letter", std::nullopt, "Not a valid password", {},
       QStringLiteral("Not a valid password.")},
      {"message ending in a period", std::nullopt, "Not a valid password.", {},
       QStringLiteral("Not a valid password.")},
      {"settings cannot be opened", "Cannot read user.reg", std::nullopt, {},
       QStringLiteral("Cannot read user.reg.")},
      {"wrong-type setting", std::nullopt, std::nullopt, {{"PUTANJA_BAZE", {4, "\x01\0\0\0"}}},
       QStringLiteral("Invalid data type for 'PUTANJA_BAZE'")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeBackend backend;
    backend.rows = {u"\u0410"};
    backend.settings_error = c.settings_error;
    backend.open_error = c.open_error;
    backend.settings = c.settings;
    TMainForm form(backend, kTitle);
    form.show();
    DialogCatcher catcher;
    form.Button1->click();

    ASSERT_EQ(catcher.seen().size(), 1u);
    const SeenMessageBox box = catcher.seen()[0];
    EXPECT_EQ(box.caption, kTitle);
    EXPECT_EQ(box.text, c.text);
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.buttons, QStringList{QStringLiteral("OK")});
    EXPECT_EQ(backend.table->rows(), std::vector<std::u16string>{u"\u0410"});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The window stays usable: the button is there and a further press runs
    // again (and fails again the same way).
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_TRUE(form.Button1->isVisible());
    form.Button1->click();
    EXPECT_EQ(catcher.seen().size(), 2u);
  }
}

TEST(TMainFormTest, ReportsAFailureToCloseAndStillCloses) {
  FakeBackend backend;
  backend.close_error = "Disk full";
  TMainForm form(backend, kTitle);
  form.show();
  DialogCatcher catcher;
  EXPECT_TRUE(form.close());
  EXPECT_FALSE(form.isVisible());
  ASSERT_EQ(catcher.seen().size(), 1u);
  EXPECT_EQ(catcher.seen()[0].caption, kTitle);
  EXPECT_EQ(catcher.seen()[0].text, QStringLiteral("Disk full."));
  EXPECT_EQ(catcher.seen()[0].icon, QMessageBox::Critical);
}

TEST(QtUiServicesTest, MapsCursorsAndKeepsTheirNumbers) {
  QWidget window;
  QtUiServices ui(&window);
  EXPECT_EQ(ui.Cursor(), conversion::kDefaultCursor);
  ui.SetCursor(conversion::kBusyCursor);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  EXPECT_EQ(ui.Cursor(), conversion::kBusyCursor);
  ui.SetCursor(42);  // a number without a shape of its own shows the arrow
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
  EXPECT_EQ(ui.Cursor(), 42);
  ui.SetCursor(conversion::kDefaultCursor);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // nothing left stacked
}

TEST(ShowStartupReportTest, ShowsTheApplicationErrorBox) {
  DialogCatcher catcher;
  ShowStartupReport(QString::fromStdString(
      StartupReportText("jet::Unsupported", "fiscal-rates-numeric", nullptr, "Error creating object")));
  ASSERT_EQ(catcher.seen().size(), 1u);
  const SeenMessageBox box = catcher.seen()[0];
  EXPECT_EQ(box.caption, QStringLiteral("Application Error"));
  EXPECT_EQ(box.text, QStringLiteral("Exception jet::Unsupported in module fiscal-rates-numeric at "
                                     "0000000000000000.\nError creating object."));
  EXPECT_EQ(box.icon, QMessageBox::Critical);
  EXPECT_EQ(box.buttons, QStringList{QStringLiteral("OK")});
  EXPECT_TRUE(box.application_modal);
}

}  // namespace
}  // namespace app
