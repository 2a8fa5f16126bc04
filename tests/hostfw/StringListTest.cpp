#include "hostfw/StringList.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

using StringList::TStringList;

namespace {

QStringList Split(const QString& Text, QChar Delimiter = QLatin1Char(','), bool Strict = false)
{
  TStringList L;
  L.Delimiter = Delimiter;
  L.StrictDelimiter = Strict;
  L.SetDelimitedText(Text);
  return L.Strings();
}

QString Join(const QStringList& Entries, QChar Delimiter = QLatin1Char(','), bool Strict = false)
{
  TStringList L;
  L.Delimiter = Delimiter;
  L.StrictDelimiter = Strict;
  for (const QString& S : Entries)
    L.Add(S);
  return L.DelimitedText();
}

const QChar Semicolon = QLatin1Char(';');

}  // namespace

TEST(StringListTest, AddIndexAndText)
{
  TStringList L;
  EXPECT_EQ(L.Add(QStringLiteral("a")), 0);
  EXPECT_EQ(L.Add(QString()), 1);
  EXPECT_EQ(L.Add(QStringLiteral("c")), 2);
  EXPECT_EQ(L.Count(), 3);
  L[1] = QStringLiteral("b");
  EXPECT_EQ(L.Text(), QStringLiteral("a\r\nb\r\nc\r\n"));

  L.SetText(QStringLiteral("one\r\ntwo\nthree\rfour\r\n\r\nlast"));
  EXPECT_EQ(L.Strings(), (QStringList{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three"),
                                      QStringLiteral("four"), QString(), QStringLiteral("last")}));
  L.SetText(QStringLiteral("x\r\n"));
  EXPECT_EQ(L.Strings(), QStringList{QStringLiteral("x")});
  L.SetText(QString());
  EXPECT_EQ(L.Count(), 0);
  L.Add(QStringLiteral("y"));
  EXPECT_THROW(L[1], std::out_of_range);
  EXPECT_THROW(L[-1], std::out_of_range);
  L.Clear();
  EXPECT_EQ(L.Count(), 0);
  EXPECT_THROW(std::as_const(L)[0], std::out_of_range);
}

TEST(StringListTest, NonStrictSplitting)
{
  EXPECT_EQ(Split(QStringLiteral("a b;c"), Semicolon),
            (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
  EXPECT_EQ(Split(QStringLiteral(" x ; y "), Semicolon), (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
  EXPECT_EQ(Split(QStringLiteral("\"a b\";c"), Semicolon), (QStringList{QStringLiteral("a b"), QStringLiteral("c")}));
  EXPECT_EQ(Split(QStringLiteral("a;"), Semicolon), (QStringList{QStringLiteral("a"), QString()}));
  EXPECT_EQ(Split(QStringLiteral("a;;b"), Semicolon),
            (QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")}));
  EXPECT_EQ(Split(QStringLiteral(";a"), Semicolon), (QStringList{QString(), QStringLiteral("a")}));
  // Only a delimiter that is the very last character adds an empty entry.
  EXPECT_EQ(Split(QStringLiteral("a; "), Semicolon), QStringList{QStringLiteral("a")});
  EXPECT_EQ(Split(QStringLiteral("a\tb\r\nc"), Semicolon),
            (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
  EXPECT_TRUE(Split(QString()).isEmpty());
  EXPECT_TRUE(Split(QStringLiteral("   ")).isEmpty());
}

TEST(StringListTest, QuotedFields)
{
  EXPECT_EQ(Split(QStringLiteral("\"say \"\"hi\"\"\",x")), (QStringList{QStringLiteral("say \"hi\""), QStringLiteral("x")}));
  EXPECT_EQ(Split(QStringLiteral("\"\"")), QStringList{QString()});
  EXPECT_EQ(Split(QStringLiteral("\"open, to the end")), QStringList{QStringLiteral("open, to the end")});
  // The field ends at the closing quote; what follows is a new entry.
  EXPECT_EQ(Split(QStringLiteral("\"a\"b,c")), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
  EXPECT_EQ(Split(QStringLiteral("x\"y,z")), (QStringList{QStringLiteral("x\"y"), QStringLiteral("z")}));

  TStringList L;
  L.QuoteChar = QLatin1Char('\'');
  L.Delimiter = QLatin1Char('|');
  L.SetDelimitedText(QStringLiteral("'a|b' 'it''s'|c"));
  EXPECT_EQ(L.Strings(), (QStringList{QStringLiteral("a|b"), QStringLiteral("it's"), QStringLiteral("c")}));
}

TEST(StringListTest, NulEndsTheText)
{
  QString Text = QStringLiteral("a,b");
  Text.append(QChar(0));
  Text.append(QStringLiteral(",c"));
  EXPECT_EQ(Split(Text), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
  QString Trailing = QStringLiteral("a,");
  Trailing.append(QChar(0));
  EXPECT_EQ(Split(Trailing), (QStringList{QStringLiteral("a"), QString()}));
}

TEST(StringListTest, StrictDelimiterKeepsBlanks)
{
  EXPECT_EQ(Split(QStringLiteral(" a b ; c;"), Semicolon, true),
            (QStringList{QStringLiteral(" a b "), QStringLiteral(" c"), QString()}));
  EXPECT_EQ(Split(QStringLiteral("\"x;y\";z"), Semicolon, true), (QStringList{QStringLiteral("x;y"), QStringLiteral("z")}));
  EXPECT_EQ(Join({QStringLiteral("a b"), QStringLiteral("c;d")}, Semicolon, true), QStringLiteral("a b;\"c;d\""));
}

TEST(StringListTest, OutputQuotesOnlyWhatNeedsIt)
{
  EXPECT_EQ(Join({QStringLiteral("a"), QStringLiteral("b")}), QStringLiteral("a,b"));
  EXPECT_EQ(Join({QStringLiteral("a b"), QStringLiteral("c,d"), QStringLiteral("say \"hi\""), QStringLiteral("tab\t")}),
            QStringLiteral("\"a b\",\"c,d\",\"say \"\"hi\"\"\",\"tab\t\""));
  EXPECT_EQ(Join({QString()}), QStringLiteral("\"\""));
  EXPECT_EQ(Join({QString(), QString()}), QStringLiteral(","));
  EXPECT_EQ(Join({}), QString());
  EXPECT_EQ(Join({QStringLiteral("a,b"), QStringLiteral("c;d")}, Semicolon), QStringLiteral("a,b;\"c;d\""));
}

TEST(StringListTest, DelimitedTextRoundTrips)
{
  const QList<QStringList> Lists = {
    {QStringLiteral("plain"), QString(), QStringLiteral(" padded "), QStringLiteral("with,comma"),
     QStringLiteral("\"quoted\""), QStringLiteral("line\r\nbreak"), QStringLiteral("é€ж")},
    {QString()},
    {QString(), QString()},
    {QStringLiteral("x"), QString()},
    {QString(), QStringLiteral("y")},
  };
  for (bool Strict : {false, true})
    for (const QStringList& List : Lists) {
      const QString Text = Join(List, QLatin1Char(','), Strict);
      EXPECT_EQ(Split(Text, QLatin1Char(','), Strict), List) << Text.toStdString() << " strict " << Strict;
    }
}
