#include "platform/AnsiCodePage.h"

#include <QList>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <map>
#include <vector>

namespace AnsiCodePage {

namespace {

constexpr int DefaultCodePage = 1252;

// Text goes in as glibc's own wide characters (UCS-4): that is a single
// conversion step, so a rejected character is cheap; through UTF-32 each one
// made iconv redo its intermediate buffer. Text comes out as UTF-16 in this
// machine's order.
static_assert(sizeof(wchar_t) == 4);
constexpr const char* WideName = "WCHAR_T";
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr const char* Utf16Name = "UTF-16LE";
#else
constexpr const char* Utf16Name = "UTF-16BE";
#endif

// iconv names of a code page, the preferred one first.
std::vector<const char*> IconvNames(int CodePage)
{
  switch (CodePage) {
  case 874: return {"CP874", "WINDOWS-874", "IBM874"};
  case 932: return {"CP932", "WINDOWS-31J", "SHIFT_JIS"};
  case 936: return {"CP936", "WINDOWS-936", "GBK"};
  case 949: return {"CP949", "UHC"};
  case 950: return {"CP950", "BIG5"};
  case 1250: return {"CP1250", "WINDOWS-1250"};
  case 1251: return {"CP1251", "WINDOWS-1251"};
  case 1252: return {"CP1252", "WINDOWS-1252"};
  case 1253: return {"CP1253", "WINDOWS-1253"};
  case 1254: return {"CP1254", "WINDOWS-1254"};
  case 1255: return {"CP1255", "WINDOWS-1255"};
  case 1256: return {"CP1256", "WINDOWS-1256"};
  case 1257: return {"CP1257", "WINDOWS-1257"};
  case 1258: return {"CP1258", "WINDOWS-1258"};
  default: return {};
  }
}

bool IsKnown(int CodePage) { return !IconvNames(CodePage).empty(); }
bool IsDoubleByte(int CodePage) { return CodePage >= 932 && CodePage <= 950; }
int Normalized(int CodePage) { return IsKnown(CodePage) ? CodePage : DefaultCodePage; }

iconv_t Open(const char* To, const char* From) { return ::iconv_open(To, From); }
bool Valid(iconv_t Cd) { return Cd != reinterpret_cast<iconv_t>(-1); }

// The converters of one code page. iconv descriptors carry state, so each
// thread keeps its own and reuses them for every call.
struct TConverter {
  iconv_t Encoder = reinterpret_cast<iconv_t>(-1);  // UCS-4 -> code page
  iconv_t Decoder = reinterpret_cast<iconv_t>(-1);  // code page -> UTF-16
  // Bytes of a single-byte page that the page leaves undefined; they stand
  // for the character of the same number in both directions.
  std::array<bool, 256> Undefined{};
};

class TConverters {
public:
  ~TConverters()
  {
    for (auto& [CodePage, C] : FMap) {
      if (Valid(C.Encoder))
        ::iconv_close(C.Encoder);
      if (Valid(C.Decoder))
        ::iconv_close(C.Decoder);
    }
  }

  TConverter& Get(int CodePage)
  {
    auto It = FMap.find(CodePage);
    if (It != FMap.end())
      return It->second;
    TConverter C;
    for (const char* Name : IconvNames(CodePage)) {
      C.Encoder = Open(Name, WideName);
      C.Decoder = Open(Utf16Name, Name);
      if (Valid(C.Encoder) && Valid(C.Decoder))
        break;
      if (Valid(C.Encoder))
        ::iconv_close(C.Encoder);
      if (Valid(C.Decoder))
        ::iconv_close(C.Decoder);
      C.Encoder = C.Decoder = reinterpret_cast<iconv_t>(-1);
    }
    if (Valid(C.Decoder) && !IsDoubleByte(CodePage)) {
      for (int B = 0; B < 256; ++B) {
        char In = static_cast<char>(B);
        char16_t Out[4];
        char* InP = &In;
        size_t InLeft = 1;
        char* OutP = reinterpret_cast<char*>(Out);
        size_t OutLeft = sizeof(Out);
        ::iconv(C.Decoder, nullptr, nullptr, nullptr, nullptr);
        C.Undefined[B] = ::iconv(C.Decoder, &InP, &InLeft, &OutP, &OutLeft) == static_cast<size_t>(-1);
      }
    }
    return FMap.emplace(CodePage, C).first->second;
  }

private:
  std::map<int, TConverter> FMap;
};

TConverter& ConverterFor(int CodePage)
{
  thread_local TConverters Converters;
  return Converters.Get(CodePage);
}

bool IsAscii(const QString& Text)
{
  for (QChar C : Text)
    if (C.unicode() >= 0x80)
      return false;
  return true;
}

// Last resort when iconv has no converter at all: Latin-1 with "?".
QByteArray Latin1WithQuestionMarks(const QList<uint>& Codes)
{
  QByteArray Result;
  Result.reserve(Codes.size());
  for (uint Code : Codes)
    Result.append(Code < 0x100 ? static_cast<char>(Code) : '?');
  return Result;
}

// Converts a whole buffer with iconv; only the units the converter rejects
// are handed to OnReject, one at a time, which writes their replacement (at
// most 8 bytes) and says how many bytes it wrote.
template <typename TReject>
QByteArray Run(iconv_t Cd, char* In, size_t InLeft, size_t InUnit, size_t Reserve, TReject OnReject)
{
  QByteArray Out;
  Out.resize(static_cast<qsizetype>(Reserve));
  size_t Used = 0;
  auto Room = [&Out, &Used](size_t Need) {
    if (static_cast<size_t>(Out.size()) - Used < Need)
      Out.resize(static_cast<qsizetype>(std::max<size_t>(static_cast<size_t>(Out.size()) * 2, Used + Need)));
  };
  // Returns 0 once everything given is converted, else the errno of the stop.
  // Without input it writes out what the converter still holds back.
  auto Step = [&](char** InP, size_t* InL) {
    while (true) {
      char* OutP = Out.data() + Used;
      size_t OutLeft = static_cast<size_t>(Out.size()) - Used;
      const size_t R = ::iconv(Cd, InP, InL, &OutP, &OutLeft);
      const int Error = errno;
      Used = static_cast<size_t>(OutP - Out.data());
      if (R != static_cast<size_t>(-1))
        return 0;
      if (Error != E2BIG)
        return Error;
      Room(static_cast<size_t>(Out.size()) + 16);
    }
  };

  ::iconv(Cd, nullptr, nullptr, nullptr, nullptr);
  while (InLeft > 0) {
    if (Step(&In, &InLeft) == 0)
      break;
    // EILSEQ, or EINVAL for a sequence cut off at the end: In points at the
    // unit that has no conversion.
    Step(nullptr, nullptr);
    Room(8);
    Used += OnReject(In, Out.data() + Used);
    In += InUnit;
    InLeft -= InUnit;
  }
  Step(nullptr, nullptr);
  Out.truncate(static_cast<qsizetype>(Used));
  return Out;
}

std::atomic<int> Override{0};

int LocaleCodePage()
{
  static const int CodePage = [] {
    for (const char* Name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
      const char* Value = std::getenv(Name);
      if (Value && *Value)
        return CodePageForLocale(QString::fromLocal8Bit(Value));
    }
    return DefaultCodePage;
  }();
  return CodePage;
}

}  // namespace

int GetACP()
{
  const int Pinned = Override.load();
  return Pinned ? Pinned : LocaleCodePage();
}

void SetACP(int CodePage)
{
  Override.store(CodePage == 0 ? 0 : Normalized(CodePage));
}

int CodePageForLocale(const QString& LocaleName)
{
  // language[_territory][.codeset][@modifier]; "-" is accepted for "_".
  QString Name = LocaleName.trimmed().toLower();
  QString Modifier;
  const qsizetype At = Name.indexOf(QLatin1Char('@'));
  if (At >= 0) {
    Modifier = Name.mid(At + 1);
    Name.truncate(At);
  }
  const qsizetype Dot = Name.indexOf(QLatin1Char('.'));
  if (Dot >= 0)
    Name.truncate(Dot);
  Name.replace(QLatin1Char('-'), QLatin1Char('_'));
  const qsizetype Underscore = Name.indexOf(QLatin1Char('_'));
  const QString Language = Underscore >= 0 ? Name.left(Underscore) : Name;
  const QString Territory = Underscore >= 0 ? Name.mid(Underscore + 1) : QString();
  const bool Latin = Modifier == QLatin1String("latin");
  const bool Cyrillic = Modifier == QLatin1String("cyrillic");

  auto In = [&Language](std::initializer_list<const char*> Languages) {
    for (const char* L : Languages)
      if (Language == QLatin1String(L))
        return true;
    return false;
  };

  if (Language == QLatin1String("zh")) {
    // Traditional script for Taiwan, Hong Kong and Macao; simplified elsewhere.
    if (Territory == QLatin1String("tw") || Territory == QLatin1String("hk") || Territory == QLatin1String("mo")
        || Territory.startsWith(QLatin1String("hant")))
      return 950;
    return 936;
  }
  if (Language == QLatin1String("sr"))
    return Latin ? 1250 : 1251;
  if (In({"az", "uz"}))
    return Cyrillic ? 1251 : 1254;
  if (In({"bs"}))
    return Cyrillic ? 1251 : 1250;
  if (In({"cs", "sk", "pl", "hu", "sl", "hr", "ro", "sq", "tk"}))
    return 1250;
  if (In({"ru", "uk", "be", "bg", "mk", "kk", "ky", "mn", "tt", "ba", "tg", "sah", "cv"}))
    return 1251;
  if (In({"el"}))
    return 1253;
  if (In({"tr"}))
    return 1254;
  if (In({"he", "iw", "yi"}))
    return 1255;
  if (In({"ar", "fa", "ur", "ps", "ug", "ckb", "sd"}))
    return 1256;
  if (In({"et", "lv", "lt"}))
    return 1257;
  if (In({"vi"}))
    return 1258;
  if (In({"th"}))
    return 874;
  if (In({"ja"}))
    return 932;
  if (In({"ko"}))
    return 949;
  // English, the Western European languages, C/POSIX and everything else.
  return DefaultCodePage;
}

QByteArray ToAnsi(const QString& Text, int CodePage)
{
  if (IsAscii(Text))
    return Text.toLatin1();  // every page we know keeps ASCII as it is
  CodePage = Normalized(CodePage);
  const TConverter& C = ConverterFor(CodePage);
  // UCS-4 makes "one character" one unit; a lone surrogate becomes U+FFFD.
  QList<uint> Codes = Text.toUcs4();
  if (!Valid(C.Encoder))
    return Latin1WithQuestionMarks(Codes);
  return Run(C.Encoder, reinterpret_cast<char*>(Codes.data()), static_cast<size_t>(Codes.size()) * sizeof(uint),
             sizeof(uint), static_cast<size_t>(Codes.size()) * (IsDoubleByte(CodePage) ? 2 : 1) + 16,
             [&C](const char* Unit, char* Out) {
               uint Code;
               std::memcpy(&Code, Unit, sizeof(Code));
               *Out = Code < 0x100 && C.Undefined[Code] ? static_cast<char>(Code) : '?';
               return size_t{1};
             });
}

QByteArray ToAnsi(const QString& Text) { return ToAnsi(Text, GetACP()); }

QString FromAnsi(QByteArrayView Bytes, int CodePage)
{
  bool Ascii = true;
  for (char B : Bytes)
    if (static_cast<unsigned char>(B) >= 0x80) {
      Ascii = false;
      break;
    }
  if (Ascii)
    return QString::fromLatin1(Bytes);
  CodePage = Normalized(CodePage);
  const TConverter& C = ConverterFor(CodePage);
  if (!Valid(C.Decoder))
    return QString::fromLatin1(Bytes);
  QByteArray Copy = Bytes.toByteArray();  // iconv wants a non-const input pointer
  // 1258 may hold a letter back and give it out with its tone mark, so
  // reserve a little more than one unit per byte.
  const QByteArray Utf16 = Run(C.Decoder, Copy.data(), static_cast<size_t>(Copy.size()), 1,
                               static_cast<size_t>(Copy.size()) * 2 + 16, [](const char* Unit, char* Out) {
                                 const char16_t Code = static_cast<unsigned char>(*Unit);
                                 std::memcpy(Out, &Code, sizeof(Code));
                                 return sizeof(Code);
                               });
  return QString(reinterpret_cast<const QChar*>(Utf16.constData()), Utf16.size() / 2);
}

QString FromAnsi(QByteArrayView Bytes) { return FromAnsi(Bytes, GetACP()); }

}  // namespace AnsiCodePage
