#include "hostfw/StringList.h"

#include <stdexcept>
#include <string>

namespace StringList {

namespace {

bool IsBlank(QChar C) { return C.unicode() >= 1 && C.unicode() <= 32; }

// The quoted field starting at I (at the quote): a doubled quote stands for
// one, the field ends after the closing quote; without one it runs to the
// end or to a NUL.
QString ExtractQuoted(const QString& Value, qsizetype& I, QChar Quote)
{
  QString Field;
  ++I;
  while (I < Value.size() && !Value[I].isNull()) {
    if (Value[I] == Quote) {
      if (I + 1 < Value.size() && Value[I + 1] == Quote) {
        Field += Quote;
        I += 2;
        continue;
      }
      ++I;
      break;
    }
    Field += Value[I++];
  }
  return Field;
}

void CheckIndex(const QStringList& Strings, int Index)
{
  if (Index < 0 || Index >= Strings.size())
    throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
}

}  // namespace

int TStringList::Add(const QString& S)
{
  FStrings.append(S);
  return static_cast<int>(FStrings.size() - 1);
}

void TStringList::Clear() { FStrings.clear(); }
int TStringList::Count() const { return static_cast<int>(FStrings.size()); }
const QString& TStringList::operator[](int Index) const
{
  CheckIndex(FStrings, Index);
  return FStrings.at(Index);
}

QString& TStringList::operator[](int Index)
{
  CheckIndex(FStrings, Index);
  return FStrings[Index];
}

QString TStringList::Text() const
{
  QString Result;
  for (const QString& S : FStrings) {
    Result += S;
    Result += QLatin1String("\r\n");
  }
  return Result;
}

void TStringList::SetText(const QString& Value)
{
  FStrings.clear();
  qsizetype Start = 0;
  for (qsizetype I = 0; I < Value.size(); ++I) {
    const QChar C = Value[I];
    if (C != QLatin1Char('\r') && C != QLatin1Char('\n'))
      continue;
    FStrings.append(Value.mid(Start, I - Start));
    if (C == QLatin1Char('\r') && I + 1 < Value.size() && Value[I + 1] == QLatin1Char('\n'))
      ++I;
    Start = I + 1;
  }
  if (Start < Value.size())
    FStrings.append(Value.mid(Start));
}

QString TStringList::DelimitedText() const
{
  if (FStrings.size() == 1 && FStrings.first().isEmpty())
    return QString(2, QuoteChar);  // else it would read back as no entry
  QString Result;
  for (qsizetype Index = 0; Index < FStrings.size(); ++Index) {
    const QString& S = FStrings[Index];
    bool NeedsQuotes = false;
    for (QChar C : S) {
      // Blanks only separate in the non-strict rule.
      if (C == QuoteChar || C == Delimiter || C.isNull() || (!StrictDelimiter && C.unicode() <= 32)) {
        NeedsQuotes = true;
        break;
      }
    }
    if (Index > 0)
      Result += Delimiter;
    if (NeedsQuotes) {
      QString Doubled = S;
      Doubled.replace(QuoteChar, QString(2, QuoteChar));
      Result += QuoteChar + Doubled + QuoteChar;
    } else {
      Result += S;
    }
  }
  return Result;
}

void TStringList::SetDelimitedText(const QString& Value)
{
  FStrings.clear();
  const qsizetype Size = Value.size();
  qsizetype I = 0;
  auto SkipBlanks = [&] {
    if (!StrictDelimiter)
      while (I < Size && IsBlank(Value[I]))
        ++I;
  };

  SkipBlanks();
  while (I < Size && !Value[I].isNull()) {
    if (Value[I] == QuoteChar) {
      FStrings.append(ExtractQuoted(Value, I, QuoteChar));
    } else {
      const qsizetype Start = I;
      if (StrictDelimiter)
        while (I < Size && !Value[I].isNull() && Value[I] != Delimiter)
          ++I;
      else
        while (I < Size && Value[I].unicode() > 32 && Value[I] != Delimiter)
          ++I;
      FStrings.append(Value.mid(Start, I - Start));
    }
    SkipBlanks();
    if (I < Size && Value[I] == Delimiter) {
      if (I + 1 == Size || Value[I + 1].isNull())
        FStrings.append(QString());  // a delimiter at the very end ends an empty entry
      ++I;
      SkipBlanks();
    }
  }
}

}  // namespace StringList
