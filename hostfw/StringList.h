#pragma once
// The runtime's string list, for what the system needs of it: add, index,
// count, text, and delimited text with a settable delimiter.
//
// Delimited text, non-strict rule (StrictDelimiter false): besides the
// delimiter every character with code 1 to 32 separates entries and is
// dropped around them; a field that starts with the quote character runs to
// the closing quote, a doubled quote inside standing for one; a delimiter at
// the very end adds an empty entry. A NUL character ends the text.

#include <QChar>
#include <QString>
#include <QStringList>

namespace StringList {

class TStringList {
public:
  QChar Delimiter = QLatin1Char(',');
  QChar QuoteChar = QLatin1Char('"');
  bool StrictDelimiter = false;

  int Add(const QString& S);
  void Clear();
  int Count() const;
  const QString& operator[](int Index) const;
  QString& operator[](int Index);
  const QStringList& Strings() const { return FStrings; }

  // Every entry followed by CR LF.
  QString Text() const;
  // Splits at CR LF, LF or CR; a last line without line end counts.
  void SetText(const QString& Value);

  QString DelimitedText() const;
  void SetDelimitedText(const QString& Value);

private:
  QStringList FStrings;
};

}  // namespace StringList
