#include "jet/connection_string.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace jet {
namespace {

TEST(ConnectionStringTest, ReadsValuesByOleDbRules) {
  struct Case {
    std::u16string text;
    std::u16string key;
    std::optional<std::u16string> value;
  };
  const Case cases[] = {
      {u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\x.mdb;Jet OLEDB:Database Password=korpamilev;", u"provider",
       u"Microsoft.Jet.OLEDB.4.0"},
      {u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\x.mdb;Jet OLEDB:Database Password=korpamilev;", u"DATA SOURCE",
       u"C:\\x.mdb"},
      {u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\x.mdb;Jet OLEDB:Database Password=korpamilev;",
       u"Jet OLEDB:Database Password", u"korpamilev"},
      // Keys and unquoted values are trimmed; blanks inside stay.
      {u"  Data Source  =  C:\\Program Files\\a b.mdb  ;", u"Data Source", u"C:\\Program Files\\a b.mdb"},
      // Quotes keep blanks and semicolons; a doubled quote is one quote.
      {u"Data Source=\" C:\\a;b.mdb \";Provider=x", u"Data Source", u" C:\\a;b.mdb "},
      {u"Data Source='it''s.mdb'", u"Data Source", u"it's.mdb"},
      {u"Data Source=\"say \"\"hi\"\"\"", u"Data Source", u"say \"hi\""},
      {u"Data Source=\"x\"  ;", u"Data Source", u"x"},
      // A quote inside an unquoted value is an ordinary character.
      {u"Data Source=it's.mdb", u"Data Source", u"it's.mdb"},
      // The last of a repeated key wins; the key's case does not matter.
      {u"Data Source=a;DATA SOURCE=b", u"data source", u"b"},
      // Empty pairs are skipped; the last pair needs no ';'.
      {u";;Provider=p;;", u"Provider", u"p"},
      {u"Provider=", u"Provider", u""},
      {u"Provider=p", u"Data Source", std::nullopt},
      {u"", u"Provider", std::nullopt},
      // '=' inside a value belongs to it.
      {u"Jet OLEDB:Database Password=a=b", u"Jet OLEDB:Database Password", u"a=b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text) + " / " + ToUtf8(c.key));
    EXPECT_EQ(ConnectionString::Parse(c.text).Get(c.key), c.value);
  }
}

TEST(ConnectionStringTest, RefusesMalformedDescriptions) {
  struct Case {
    std::u16string text;
    std::string message;
  };
  const Case cases[] = {
      {u"Provider=p;Data Source", "The connection description is malformed: 'Data Source' has no '='."},
      {u"Provider;Data Source=x", "The connection description is malformed: 'Provider' has no '='."},
      {u"=x;Provider=p", "The connection description is malformed: a value has no name."},
      {u"Data Source=\"C:\\a.mdb;Provider=p", "The connection description is malformed: the value of 'Data Source' has no closing quote."},
      {u"Data Source=\"a\"b;", "The connection description is malformed: text follows the quoted value of 'Data Source'."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    try {
      ConnectionString::Parse(c.text);
      ADD_FAILURE() << "parsed";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace jet
