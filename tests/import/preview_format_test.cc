// The preview as the command line prints it: the text an operator reads before posting, and the
// JSON a script reads, parsed back with Qt's JSON reader (which also refuses invalid UTF-8).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "import/json_text.h"
#include "import/preview.h"

namespace quillmere {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// A clean file of eight rows: cash, three client rows of two clients (one client on two rows),
// retained earnings, and three zero rows.
Preview BalancedPreview() {
  Preview p;
  p.accounts = {
      {"1000", 1, 25000, 0, false, 0, 0},
      {"1120", 3, 137107, 0, true, 2, 1},
      {"3100", 1, 0, 162107, false, 0, 0},
  };
  p.rows = 8;
  p.zero_rows = 3;
  p.debit_cents = 162107;
  p.credit_cents = 162107;
  p.first_je = 100001;
  p.last_je = 100005;
  p.first_inv = 500001;
  p.last_inv = 500003;
  p.record_writes = {{"jcki", 26, 0}, {"desc", 20, 0}, {"pol", 2, 1}};
  p.policy_inserted = 2;
  p.warnings = {{PreviewWarning::Kind::kKindName, 4,
                 "SubType [Clients] is the template's kind name, not a client code"}};
  return p;
}

TEST(PreviewLines, BalancedFileReadsAsATrialBalance) {
  const std::vector<std::string> want = {
      "Opening trial balance (amounts as the records will hold them):",
      "  GL     Rows    Debit   Credit  Parties  On several rows",
      "  1000      1   250.00     0.00",
      "  1120      3  1371.07     0.00        2                1",
      "  3100      1     0.00  1621.07",
      "  Total     5  1621.07  1621.07",
      "  Net total (debits less credits): 0.00",
      "A party on more than one row of a control account gets one placeholder policy for all of "
      "them; it keeps the department and invoice of the party's last row.",
      "Zero rows skipped: 3 of 8 rows read",
      "Document numbers the posting will draw (a forecast: numbers another program takes before "
      "the posting are passed over then):",
      "  JE numbers: 100001 to 100005",
      "  Invoice numbers: 500001 to 500003",
      "Writes:",
      "  jcki:         26 inserted, 0 replaced",
      "  desc:         20 inserted, 0 replaced",
      "  pol:           2 inserted, 1 replaced",
      "  Policy rows:   2 inserted, 0 updated",
      "Warning: line 4: SubType [Clients] is the template's kind name, not a client code",
  };
  EXPECT_THAT(PreviewLines(BalancedPreview()), ElementsAreArray(want));
}

TEST(PreviewLines, WhatDependsOnTheFile) {
  const struct {
    const char* name;
    void (*change)(Preview*);
    std::string want_line;    // a line that must be there
    std::string absent_part;  // a text no line may hold ("" for none)
  } kCases[] = {
      {"out of balance",
       [](Preview* p) {
         p->credit_cents = 100;
         p->warnings = {{PreviewWarning::Kind::kOutOfBalance, 0,
                         "The file is out of balance by 1620.07: its rows do not add up to 0.00"}};
       },
       "WARNING: The file is out of balance by 1620.07: its rows do not add up to 0.00", ""},
      {"net total signed", [](Preview* p) { p->debit_cents = 100; },
       "  Net total (debits less credits): -1620.07", ""},
      {"balanced: no alarm", [](Preview*) {}, "  Net total (debits less credits): 0.00", "WARNING"},
      {"no party on two rows: no sentence", [](Preview* p) { p->accounts[1].shared_parties = 0; },
       "Zero rows skipped: 3 of 8 rows read", "placeholder policy"},
      {"no control account: no party columns",
       [](Preview* p) { p->accounts.erase(p->accounts.begin() + 1); },
       "  GL     Rows    Debit   Credit", "Parties"},
      {"no documents",
       [](Preview* p) { p->first_je = p->last_je = p->first_inv = p->last_inv = 0; },
       "  Invoice numbers: none", ""},
      {"resume", [](Preview* p) { p->already_posted = 3; },
       "Resume: the 3 row(s) posted before are skipped; the numbers and writes above are those of "
       "the other rows (the trial balance covers the whole file).",
       ""},
      {"not a resume", [](Preview*) {}, "Writes:", "Resume"},
      {"no amount at all",
       [](Preview* p) {
         *p = Preview();
         p->rows = 2;
         p->zero_rows = 2;
         p->warnings = {{PreviewWarning::Kind::kNoAmount, 0, "No row of the file has an amount"}};
       },
       "Warning: No row of the file has an amount", "WARNING"},
      // A line of the text is one line whatever a warning holds.
      {"control byte in a warning", [](Preview* p) { p->warnings[0].text = "Sub\rType\n"; },
       "Warning: line 4: Sub\\x0DType\\x0A", ""},
  };
  for (const auto& c : kCases) {
    Preview preview = BalancedPreview();
    c.change(&preview);
    const std::vector<std::string> lines = PreviewLines(preview);
    EXPECT_THAT(lines, Contains(c.want_line)) << c.name;
    if (!c.absent_part.empty()) {
      EXPECT_THAT(lines, Not(Contains(HasSubstr(c.absent_part)))) << c.name;
    }
  }
}

TEST(PreviewLines, OutOfBalanceWarningStandsOutAmongTheOthers) {
  Preview preview = BalancedPreview();
  preview.credit_cents = 0;
  preview.warnings.push_back(
      {PreviewWarning::Kind::kOutOfBalance, 0, "The file is out of balance by 1621.07"});
  const std::vector<std::string> lines = PreviewLines(preview);
  EXPECT_THAT(lines, Contains(StartsWith("WARNING: The file is out of balance by 1621.07")));
  // Only the out-of-balance warning shouts.
  EXPECT_THAT(lines, Contains(StartsWith("Warning: line 4: ")));
}

// The JSON text parsed back; fails the test when it is not a JSON object.
QJsonObject Parsed(const std::string& json) {
  QJsonParseError error;
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError)
      << error.errorString().toStdString() << " at " << error.offset << " in " << json;
  EXPECT_TRUE(doc.isObject()) << json;
  return doc.object();
}

QStringList Keys(const QJsonObject& object) {
  QStringList keys = object.keys();
  keys.sort();
  return keys;
}

QStringList Sorted(QStringList list) {
  list.sort();
  return list;
}

// "1\"\\\x01\xE9": a quote, a backslash, a control byte and the Latin-1 byte of "é".
const std::string kAwkward = "1\"\\\x01\xE9";
const QString kAwkwardRead = QStringLiteral("1\"\\\u0001\u00E9");

TEST(PreviewJson, ReadsBackKeyByKey) {
  Preview p = BalancedPreview();
  p.accounts[0].gl = kAwkward;
  p.debit_cents = 162107;
  p.credit_cents = 519214;  // net -3571.07
  p.already_posted = 2;
  p.warnings = {
      {PreviewWarning::Kind::kOutOfBalance, 0, "Out of balance by -3571.07"},
      {PreviewWarning::Kind::kKindName, 4, "SubType " + kAwkward},
      {PreviewWarning::Kind::kNoAmount, 0, "No amount"},
  };
  const QJsonObject o = Parsed(PreviewJson(p));

  EXPECT_EQ(Keys(o), Sorted({"accounts", "rows", "zero_rows", "debit", "credit", "net", "first_je",
                             "last_je", "first_inv", "last_inv", "record_writes", "policy_inserted",
                             "policy_updated", "already_posted", "warnings"}));
  // Counts and document numbers are JSON numbers; amounts are strings, never floating point.
  const struct {
    const char* key;
    double want;
  } kNumbers[] = {
      {"rows", 8},           {"zero_rows", 3},     {"first_je", 100001},   {"last_je", 100005},
      {"first_inv", 500001}, {"last_inv", 500003}, {"policy_inserted", 2}, {"policy_updated", 0},
      {"already_posted", 2},
  };
  for (const auto& n : kNumbers) {
    EXPECT_TRUE(o[QLatin1String(n.key)].isDouble()) << n.key;
    EXPECT_EQ(o[QLatin1String(n.key)].toDouble(), n.want) << n.key;
  }
  const struct {
    const char* key;
    const char* want;
  } kAmounts[] = {{"debit", "1621.07"}, {"credit", "5192.14"}, {"net", "-3571.07"}};
  for (const auto& a : kAmounts) {
    EXPECT_TRUE(o[QLatin1String(a.key)].isString()) << a.key;
    EXPECT_EQ(o[QLatin1String(a.key)].toString(), QLatin1String(a.want)) << a.key;
  }

  const QJsonArray accounts = o[QStringLiteral("accounts")].toArray();
  ASSERT_EQ(accounts.size(), 3);
  const QJsonObject cash = accounts[0].toObject();
  EXPECT_EQ(Keys(cash),
            Sorted({"gl", "rows", "debit", "credit", "control", "parties", "shared_parties"}));
  EXPECT_EQ(cash[QStringLiteral("gl")].toString(), kAwkwardRead);
  EXPECT_EQ(cash[QStringLiteral("debit")].toString(), QStringLiteral("250.00"));
  EXPECT_EQ(cash[QStringLiteral("control")].toBool(true), false);
  const QJsonObject clients = accounts[1].toObject();
  EXPECT_EQ(clients[QStringLiteral("gl")].toString(), QStringLiteral("1120"));
  EXPECT_EQ(clients[QStringLiteral("rows")].toDouble(), 3);
  EXPECT_EQ(clients[QStringLiteral("control")].toBool(false), true);
  EXPECT_EQ(clients[QStringLiteral("parties")].toDouble(), 2);
  EXPECT_EQ(clients[QStringLiteral("shared_parties")].toDouble(), 1);
  EXPECT_EQ(accounts[2].toObject()[QStringLiteral("credit")].toString(), QStringLiteral("1621.07"));

  const QJsonArray writes = o[QStringLiteral("record_writes")].toArray();
  ASSERT_EQ(writes.size(), 3);
  const QJsonObject pol = writes[2].toObject();
  EXPECT_EQ(Keys(pol), Sorted({"file", "inserted", "replaced"}));
  EXPECT_EQ(pol[QStringLiteral("file")].toString(), QStringLiteral("pol"));
  EXPECT_EQ(pol[QStringLiteral("inserted")].toDouble(), 2);
  EXPECT_EQ(pol[QStringLiteral("replaced")].toDouble(), 1);

  const QJsonArray warnings = o[QStringLiteral("warnings")].toArray();
  ASSERT_EQ(warnings.size(), 3);
  const struct {
    const char* kind;
    double line;
    QString text;
  } kWarnings[] = {
      {"out_of_balance", 0, QStringLiteral("Out of balance by -3571.07")},
      {"kind_name", 4, QStringLiteral("SubType ") + kAwkwardRead},
      {"no_amount", 0, QStringLiteral("No amount")},
  };
  for (int i = 0; i < 3; ++i) {
    const QJsonObject w = warnings[i].toObject();
    EXPECT_EQ(Keys(w), Sorted({"kind", "line", "text"})) << i;
    EXPECT_EQ(w[QStringLiteral("kind")].toString(), QLatin1String(kWarnings[i].kind)) << i;
    EXPECT_EQ(w[QStringLiteral("line")].toDouble(), kWarnings[i].line) << i;
    EXPECT_EQ(w[QStringLiteral("text")].toString(), kWarnings[i].text) << i;
  }
}

TEST(PreviewJson, EmptyPreviewIsAnObjectWithEmptyLists) {
  const QJsonObject o = Parsed(PreviewJson(Preview()));
  EXPECT_TRUE(o[QStringLiteral("accounts")].isArray());
  EXPECT_TRUE(o[QStringLiteral("accounts")].toArray().isEmpty());
  EXPECT_TRUE(o[QStringLiteral("warnings")].toArray().isEmpty());
  EXPECT_EQ(o[QStringLiteral("net")].toString(), QStringLiteral("0.00"));
  EXPECT_EQ(o[QStringLiteral("first_je")].toDouble(-1), 0);
}

TEST(JsonString, EveryByteReadsBackAsItsLatin1Character) {
  // All 256 byte values in one string: the parser must give back the same 256 characters.
  std::string bytes;
  QString want;
  for (int b = 1; b < 256; ++b) {
    bytes += static_cast<char>(b);
    want += QChar(b);
  }
  bytes += '\0';
  want += QChar(0);
  const std::string json = "{\"s\":" + JsonString(bytes) + "}";
  EXPECT_EQ(Parsed(json)[QStringLiteral("s")].toString(), want);
}

TEST(JsonString, EscapesAsDocumented) {
  const struct {
    std::string in, want;
  } kCases[] = {
      {"", "\"\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {std::string("\x00\x1f\x7f", 3), "\"\\u0000\\u001F\\u007F\""},
      {"Caf\xE9", "\"Caf\xC3\xA9\""},
      {"\xFF", "\"\xC3\xBF\""},
      {"/", "\"/\""},  // allowed as it is
  };
  for (const auto& c : kCases) EXPECT_EQ(JsonString(c.in), c.want) << c.in;
}

}  // namespace
}  // namespace quillmere
