#include "conversion/conversion_run.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "conversion/conversion_settings.h"
#include "conversion/testing/memory_settings_store.h"
#include "conversion/testing/recording_ui.h"
#include "conversion/testing/scripted_data.h"
#include "conversion/testing/windows1251_code_page.h"

namespace conversion {
namespace {

using testing::MemorySettingsStore;
using testing::RecordingUi;
using testing::ScriptedConnection;
using testing::ScriptedTable;
using testing::Windows1251CodePage;
using Op = ScriptedTable::Op;
using Rows = std::vector<std::optional<std::u16string>>;

constexpr std::string_view kPrinterKey = "Software\\Zarvel\\Trelon 3\\FiscalPrinter";

struct Harness {
  explicit Harness(Rows rows, std::string column = "PoreskaStopa") : table(std::move(rows), column) {}

  void SetLabels(std::string labels) {
    labels.push_back('\0');
    settings.SetValue(kPrinterKey, "FM_FISCALLABELS", ValueType::kString, labels);
  }
  void Go() { RunConversion({settings, code_page, connection, table, ui}); }

  MemorySettingsStore settings;
  Windows1251CodePage code_page;
  ScriptedConnection connection;
  ScriptedTable table;
  RecordingUi ui;
};

TEST(RunConversionTest, RewritesLabelsAsPositionsWithTheDefaultLabels) {
  struct Case {
    std::u16string before;
    std::u16string after;
  };
  const Case cases[] = {
      {u"А", u"0"}, {u"Г", u"1"}, {u"Д", u"2"}, {u"Ђ", u"3"}, {u"Е", u"4"},
      {u"Ж", u"5"}, {u"И", u"6"}, {u"Ј", u"7"}, {u"К", u"8"}, {u"ГД", u"1"},
      {u"АГДЂЕЖИЈК", u"0"},
      // Left alone: not a label, lower case, digits, blanks, Latin look-alikes,
      // letters that are not contiguous in the labels, too long.
      {u"Б", u"Б"}, {u"а", u"а"}, {u"0", u"0"}, {u"8", u"8"}, {u"А ", u"А "}, {u" А", u" А"},
      {u"A", u"A"}, {u"КА", u"КА"}, {u"АГДЂЕЖИЈКА", u"АГДЂЕЖИЈКА"}, {u"", u""},
      // A character the code page lacks must not turn into a '?' that matches.
      {u"Ѓ", u"Ѓ"}, {u"А\u20AC", u"А\u20AC"},
  };
  Rows rows;
  for (const Case& c : cases) rows.emplace_back(c.before);
  Harness run(rows);
  run.Go();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(run.table.rows()[i], cases[i].after);
  }
}

TEST(RunConversionTest, QuestionMarkLabelDoesNotMatchAnUnrepresentableCharacter) {
  Harness run({u"Ѓ", u"?"});
  run.SetLabels("?");
  run.Go();
  EXPECT_EQ(run.table.rows()[0], u"Ѓ");
  EXPECT_EQ(run.table.rows()[1], u"0");
}

TEST(RunConversionTest, OnlyMatchingRowsAreEditedAndPosted) {
  Harness run({u"Г", std::nullopt, u"Б", u"К"});
  run.Go();
  const std::vector<std::string> expected = {
      "open", "first", "edit 0", "write 0 1", "post 0", "next 0", "next 1",
      "next 2", "edit 3", "write 3 8", "post 3", "next 3"};
  EXPECT_EQ(run.table.log(), expected);
  EXPECT_EQ(run.table.rows()[1], std::nullopt);
}

TEST(RunConversionTest, PositionsFromTheEleventhLabelHaveTwoDigits) {
  Harness run({u"k", u"l", u"a"});
  run.SetLabels("abcdefghijkl");
  run.Go();
  EXPECT_EQ(run.table.rows(), (Rows{u"10", u"11", u"0"}));
}

TEST(RunConversionTest, EmptyLabelsConvertNothingAndStillReport) {
  Harness run({u"А", u"Г"});
  run.SetLabels("");
  run.Go();
  EXPECT_EQ(run.table.rows(), (Rows{u"А", u"Г"}));
  ASSERT_EQ(run.ui.messages.size(), 1u);
  EXPECT_EQ(run.ui.messages[0].text, "Konverzija je izvrsena!");
}

TEST(RunConversionTest, ConvertingTwiceChangesNothingTheSecondTime) {
  Harness run({u"А", u"Г", u"Б"});
  run.Go();
  const Rows once = run.table.rows();
  run.Go();
  EXPECT_EQ(run.table.rows(), once);
  EXPECT_EQ(run.connection.descriptions.size(), 2u);
}

TEST(RunConversionTest, OpensWithTheDescriptionOfTheConfiguredPath) {
  Harness run({});
  run.settings.SetValue("Software\\Zarvel\\Trelon 3", "PUTANJA_BAZE", ValueType::kString,
                        std::string("C:\\\xC1\xE0\xE7;a.mdb\0", 13));
  run.Go();
  ASSERT_EQ(run.connection.descriptions.size(), 1u);
  EXPECT_EQ(run.connection.descriptions[0],
            u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Баз;a.mdb;"
            u"Jet OLEDB:Database Password=korpamilev;");
  EXPECT_TRUE(run.connection.open);
}

TEST(RunConversionTest, EmptyTableShowsAndRestoresTheBusyCursorAndReports) {
  Harness run({});
  run.ui.cursor = 7;  // whatever cursor the screen had
  run.Go();
  EXPECT_EQ(run.ui.cursor_history, (std::vector<ScreenCursor>{kBusyCursor, 7}));
  ASSERT_EQ(run.ui.messages.size(), 1u);
  EXPECT_EQ(run.ui.messages[0].kind, MessageKind::kInformation);
  EXPECT_EQ(run.ui.messages[0].caption, "Information");
  EXPECT_EQ(run.ui.messages[0].text, "Konverzija je izvrsena!");
}

TEST(RunConversionTest, FailedRowsAreCancelledCountedAndTheWalkGoesOn) {
  struct Case {
    const char* what;
    Op op;
    std::vector<std::string> row1_log;  // what happens on row 1
  };
  const Case cases[] = {
      {"read fails", Op::kRead, {"next 1"}},
      {"edit fails", Op::kEdit, {"next 1"}},
      {"write fails", Op::kWrite, {"edit 1", "cancel 1", "next 1"}},
      {"post fails", Op::kPost, {"edit 1", "write 1 1", "cancel 1", "next 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Harness run({u"А", u"Г", u"Д"});
    run.table.FailAt(c.op, 1);
    run.Go();
    EXPECT_EQ(run.table.rows(), (Rows{u"0", u"Г", u"2"}));
    std::vector<std::string> expected = {"open", "first", "edit 0", "write 0 0", "post 0", "next 0"};
    expected.insert(expected.end(), c.row1_log.begin(), c.row1_log.end());
    for (const char* line : {"edit 2", "write 2 2", "post 2", "next 2"}) expected.push_back(line);
    EXPECT_EQ(run.table.log(), expected);
    EXPECT_FALSE(run.table.editing());
    ASSERT_EQ(run.ui.messages.size(), 1u);
    EXPECT_EQ(run.ui.messages[0].kind, MessageKind::kWarning);
    EXPECT_EQ(run.ui.messages[0].caption, "Warning");
    EXPECT_EQ(run.ui.messages[0].text,
              "Konverzija je izvrsena!\nBroj redova koji nisu konvertovani: 1");
  }
}

TEST(RunConversionTest, ValueTooLongForTheColumnIsCountedAndKept) {
  Harness run({u"x", u"y", u"z", u"a"});
  run.SetLabels("abcdefghijxyz");
  run.table.set_max_chars(1);
  run.Go();
  EXPECT_EQ(run.table.rows(), (Rows{u"x", u"y", u"z", u"0"}));
  ASSERT_EQ(run.ui.messages.size(), 1u);
  EXPECT_EQ(run.ui.messages[0].text,
            "Konverzija je izvrsena!\nBroj redova koji nisu konvertovani: 3");
}

TEST(RunConversionTest, TableWithoutTheColumnRunsToTheEnd) {
  Harness run({u"А", u"Г"}, "Naziv");
  run.Go();
  EXPECT_EQ(run.table.rows(), (Rows{u"А", u"Г"}));
  EXPECT_TRUE(run.table.AtEnd());
  ASSERT_EQ(run.ui.messages.size(), 1u);
  EXPECT_EQ(run.ui.messages[0].text,
            "Konverzija je izvrsena!\nBroj redova koji nisu konvertovani: 2");
}

TEST(RunConversionTest, FailureOfCancelOrNextLeavesTheRunWithTheCursorRestored) {
  struct Case {
    const char* what;
    Op fail_op;
    std::size_t fail_row;
    Op trigger_op;  // a guarded failure on the same row, so cancel runs
  };
  const Case cases[] = {
      {"cancel fails", Op::kCancel, 1, Op::kPost},
      {"next fails", Op::kNext, 1, Op::kRead},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Harness run({u"А", u"Г", u"Д"});
    run.table.FailAt(c.trigger_op, c.fail_row);
    run.table.FailAt(c.fail_op, c.fail_row);
    run.ui.cursor = 3;
    EXPECT_THROW(run.Go(), std::runtime_error);
    EXPECT_EQ(run.ui.cursor, 3);
    EXPECT_TRUE(run.ui.messages.empty());
    EXPECT_EQ(run.table.rows()[0], u"0");  // posted before the failure, kept
    EXPECT_EQ(run.table.rows()[2], u"Д");
  }
}

TEST(RunConversionTest, FailuresBeforeTheWalkPropagateWithoutCursorOrMessage) {
  struct Case {
    const char* what;
    std::function<void(Harness&)> setup;
    std::string message;
  };
  const Case cases[] = {
      {"wrong settings type",
       [](Harness& r) {
         r.settings.SetValue(kPrinterKey, "FM_FISCALLABELS", ValueType::kDword,
                             std::string("\1\0\0\0", 4));
       },
       "Invalid data type for 'FM_FISCALLABELS'"},
      {"connection refuses", [](Harness& r) { r.connection.open_error = "Not a valid password."; },
       "Not a valid password."},
      {"table missing", [](Harness& r) { r.table.FailOpen("no table Artikli"); }, "no table Artikli"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Harness run({u"А"});
    c.setup(run);
    try {
      run.Go();
      ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_TRUE(run.ui.cursor_history.empty());
    EXPECT_TRUE(run.ui.messages.empty());
    EXPECT_EQ(run.table.rows()[0], u"А");
  }
}

TEST(RunConversionTest, WrongPathTypeStopsBeforeTheConnectionIsTouched) {
  Harness run({u"А"});
  run.settings.SetValue("Software\\Zarvel\\Trelon 3", "PUTANJA_BAZE", ValueType::kBinary, "x");
  EXPECT_THROW(run.Go(), SettingsTypeError);
  EXPECT_TRUE(run.connection.descriptions.empty());
  EXPECT_EQ(run.connection.open_calls, 0);
}

}  // namespace
}  // namespace conversion
