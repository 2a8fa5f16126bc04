#include "package/u_errorFileReader.h"

#include "hostfw/Anchors.h"
#include "hostfw/Colors.h"
#include "hostfw/StringGrid.h"
#include "hostfw/TextFile.h"
#include "package/HmldFormat.h"
#include "ui_u_errorFileReader.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QPalette>

#include <array>

namespace u_errorFileReader {

QString sFileToRead;
bool bLastreached = false;
QPointer<TFrmErroReader> FrmErroReader;

namespace {

using namespace HmldFormat;
using Colors::ColorToQColor;
using StringGrid::TStringGrid;

// Trim of the runtime: every character up to the blank goes at both ends.
QString TrimText(const QString& Text)
{
  qsizetype Start = 0;
  qsizetype End = Text.size();
  while (Start < End && Text[Start].unicode() <= 32)
    ++Start;
  while (End > Start && Text[End - 1].unicode() <= 32)
    --End;
  return Text.mid(Start, End - Start);
}

// The key under which the writer puts a version value, e.g. "Company Name:".
QString VersionLabelKey(QLatin1String QueryKey)
{
  for (const TVersionKey& Key : VersionKeys)
    if (Key.Key == QueryKey)
      return Key.Label + QLatin1Char(':');
  return {};
}

// A tagged value: where it goes, and whether its ";" are removed (the
// version values keep their terminator).
struct TTaggedKey {
  QString Key;
  QString TapplicationInformation::*App = nullptr;
  QString TSystemInformation::*Sys = nullptr;
  QString TCPUInformation::*Cpu = nullptr;
  QString TNetworkInfo::*Net = nullptr;
};

// In the order every line is tried; a key counts only at the start of a line.
const std::array<TTaggedKey, 23>& TaggedKeys()
{
  using A = TapplicationInformation;
  using S = TSystemInformation;
  using C = TCPUInformation;
  using N = TNetworkInfo;
  static const std::array<TTaggedKey, 23> Keys{{
    {QString(VersionSizeKey), &A::ExecutableSize},
    {VersionLabelKey(QLatin1String("CompanyName")), &A::CompanyName},
    {VersionLabelKey(QLatin1String("FileVersion")), &A::FileVersion},
    {VersionLabelKey(QLatin1String("ProductName")), &A::ProductName},
    {VersionLabelKey(QLatin1String("ProductVersion")), &A::ProductVersion},
    {VersionLabelKey(QLatin1String("Comments")), &A::Comments},
    {QString(OSNameKey), nullptr, &S::OSName},
    {QString(VersionKey), nullptr, &S::OSVersion},
    {QString(BuildNumberKey), nullptr, &S::BuildNumber},
    {QString(BuildTypeKey), nullptr, &S::BuildType},
    {QString(CodeSetKey), nullptr, &S::CodeSet},
    {QString(CountryCodeKey), nullptr, &S::CountryCode},
    {QString(BitKey), nullptr, &S::Bits},
    {QString(SystemDirectoryKey), nullptr, &S::SystemDirectory},
    {QString(RamInUseKey), nullptr, &S::RamInUse},
    {QString(RamTotalKey), nullptr, &S::RamTotal},
    {QString(RamAvailKey), nullptr, &S::RamAvailable},
    {QString(SystemNameKey), nullptr, &S::SystemName},
    {QString(BootDeviceKey), nullptr, &S::BootDevice},
    {QString(VendorIdKey), nullptr, nullptr, &C::VendorID},
    {QString(CpuNameKey), nullptr, nullptr, &C::CPUName},
    {QString(IpAddressKey), nullptr, nullptr, nullptr, &N::IPAddress},
    {QString(MacAddressKey), nullptr, nullptr, nullptr, &N::MACAddress},
  }};
  return Keys;
}

// The value of an exception key line: the text after the key, without the
// terminator that ends the line. A message with a line break continues on
// the next lines, so its first line has no terminator and keeps its end.
QString ExceptionValue(const QString& Line, QLatin1String Key)
{
  const qsizetype Count = Line.size() - Key.size() - (Line.endsWith(Terminator) ? 1 : 0);
  return Count > 0 ? Line.mid(Key.size(), Count) : QString();
}

// Sections that end without a row of their own move the row on without
// growing the grid; the row about to be written is made part of it.
void EnsureRow(TStringGrid* Grid, int Row)
{
  if (Row >= Grid->RowCount())
    Grid->setRowCount(Row + 1);
}

bool IsFile(const QString& FileName)
{
  const QFileInfo Info(FileName);
  return !FileName.isEmpty() && Info.exists() && !Info.isDir();
}

const QString LineSearchText = QStringLiteral("Line");

}  // namespace

TFrmErroReader::TFrmErroReader(QWidget* AOwner, const QString& FileName)
  : QWidget(AOwner, Qt::Window), FUi(std::make_unique<Ui::TFrmErroReader>()), FFileName(FileName)
{
  FUi->setupUi(this);
  Anchors::ApplyStoredAnchors(this);
  const QVariant Position = property("InitialPosition");
  if (Position.isValid())
    move(Position.toPoint());
  // The grids' cells take the face colour of buttons, a colour of the
  // desktop's palette rather than a fixed one.
  for (TStringGrid* Grid : {FUi->StringGridProcessList, FUi->StringGridException})
    Grid->setColor(palette().color(QPalette::Button));
  sFileToRead = FileName;
  FormCreate(this);
}

TFrmErroReader::~TFrmErroReader() = default;

QFrame* TFrmErroReader::Panel1() const { return FUi->Panel1; }
QTabWidget* TFrmErroReader::PageControlApplicationInformation() const { return FUi->PageControlApplicationInformation; }
RichEdit::TRichEdit* TFrmErroReader::REBoxAppInformation() const { return FUi->REBoxAppInformation; }
TStringGrid* TFrmErroReader::StringGridProcessList() const { return FUi->StringGridProcessList; }
TStringGrid* TFrmErroReader::StringGridException() const { return FUi->StringGridException; }
RichEdit::TRichEdit* TFrmErroReader::RichEditErrorCallStack() const { return FUi->RichEditErrorCallStack; }

void TFrmErroReader::FormCreate(QObject*)
{
  if (!IsFile(sFileToRead))
    return;
  StringGridProcessListHeaders();
  FUi->REBoxAppInformation->Clear();
  FUi->RichEditErrorCallStack->Clear();
  ReadApplicationInformation(sFileToRead);
  // The details are written and coloured in one go, so that they are laid
  // out once however long a value is.
  FUi->REBoxAppInformation->BeginUpdate();
  DisplayOnMemo();
  setTheColor();
  FUi->REBoxAppInformation->EndUpdate();
}

void TFrmErroReader::FormClose(QObject*, TCloseAction& Action) { Action = caFree; }

void TFrmErroReader::closeEvent(QCloseEvent* Event)
{
  TCloseAction Action = caHide;
  FormClose(this, Action);
  switch (Action) {
  case caNone:
    Event->ignore();
    break;
  case caMinimize:
    Event->ignore();
    showMinimized();
    break;
  case caFree:
    setAttribute(Qt::WA_DeleteOnClose);
    Event->accept();
    break;
  case caHide:
    Event->accept();
    break;
  }
}

// The parse ---------------------------------------------------------------

void TFrmErroReader::ApplyTaggedValues(const QString& Line)
{
  for (const TTaggedKey& Key : TaggedKeys()) {
    if (!Line.startsWith(Key.Key))
      continue;
    QString Value = Line.mid(Key.Key.size());
    if (Key.App) {
      FAppInfo.*Key.App = VisibleValue(Value);
      continue;
    }
    Value = VisibleValue(Value.remove(QLatin1Char(';')));
    if (Key.Sys)
      FSysInfo.*Key.Sys = Value;
    else if (Key.Cpu)
      FCpuInfo.*Key.Cpu = Value;
    else if (Key.Net)
      FNetInfo.*Key.Net = Value;
  }
}

void TFrmErroReader::ReadApplicationInformation(const QString& FileName)
{
  ProcessLines.clear();
  ExceptionLines.clear();
  StackTraceLines.clear();

  bool ProcessOn = false, ProcessOff = false;
  bool ExceptionOn = false, ExceptionEnded = false;
  bool StackOn = false, StackEnded = false;
  // Each section of the exception and stack kinds: the start line switches
  // collecting on, the end line is the section's last. An end line outside
  // any section belongs to none.
  const auto Collect = [](const QString& Line, QLatin1String Start, QLatin1String End, bool& On, bool& Ended,
                          QStringList& Lines) {
    if (Line.contains(Start)) {
      On = true;
      Ended = false;
    }
    if (Line.contains(End)) {
      if (On && !Ended)
        Lines << Line;
      Ended = true;
    } else if (On && !Ended) {
      Lines << Line;
    }
  };

  TextFile::TTextFile File(FileName);
  File.Reset();
  while (!File.Eof()) {
    const QString Line = File.ReadLn();
    ApplyTaggedValues(Line);

    // Only the first process section counts.
    if (Line.contains(ProcessStartText))
      ProcessOn = true;
    if (Line.contains(ProcessEndText))
      ProcessOff = true;
    if (ProcessOn && !ProcessOff)
      ProcessLines << Line;

    Collect(Line, ExceptionStartText, ExceptionEndText, ExceptionOn, ExceptionEnded, ExceptionLines);
    Collect(Line, StackStartText, StackEndText, StackOn, StackEnded, StackTraceLines);
  }
  File.Close();
  FillUpTheProcessList(FileName);
}

void TFrmErroReader::FillUpTheProcessList(const QString&)
{
  RowCounter = 0;
  for (const QString& Line : std::as_const(ProcessLines))
    FillTheStringGridWithProcessListValues(Line, 1);
  ProcessLines = QStringList();

  RowCounter = 0;
  FExceptionRowOpen = false;
  ClearExceptionValues();
  for (const QString& Line : std::as_const(ExceptionLines))
    FillTheStringGridWithexceptionValues(Line, 1);
  ExceptionLines = QStringList();

  for (QString& Line : StackTraceLines)
    Line = VisibleValue(Line);
  FUi->RichEditErrorCallStack->setLines(StackTraceLines);
  StackTraceLines = QStringList();

  RemoveExtraBlankRowsStringGridProcessList(FUi->StringGridException, FUi->StringGridException->RowCount());
  RemoveExtraBlankRowsStringGridProcessList(FUi->StringGridProcessList, FUi->StringGridProcessList->RowCount());
}

void TFrmErroReader::FillTheStringGridWithProcessListValues(const QString& Line, int FirstRow)
{
  if (Line.contains(ProcessStartText) || Line.contains(ProcessHeaderProbe) || Line.contains(ProcessEndText))
    return;
  QString Text = Line;
  Text.remove(QLatin1Char('\t'));
  Text.remove(QLatin1Char(';'));
  QStringList Fields = Text.split(QLatin1Char('|'));
  // A row without owner has no bars between identifier and working set:
  // both stand in field 1, apart by blanks. Split them before the blanks go,
  // or the two numbers would read as one.
  if (Fields.size() > 1 && Fields.size() < 5) {
    const QStringList Words = Fields[1].split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (Words.size() > 1) {
      Fields[1] = Words.first();
      while (Fields.size() < 5)
        Fields << QString();
      Fields[4] = Words.last();
    }
  }
  for (QString& Field : Fields)
    Field = VisibleValue(TrimText(Field.remove(QLatin1Char(' '))));

  TStringGrid* Grid = FUi->StringGridProcessList;
  const int Row = FirstRow + RowCounter;
  // Grid column of each field: ID, process name, user, domain, memory.
  static constexpr std::array<int, 5> ColumnOfField{1, 0, 2, 3, 4};
  EnsureRow(Grid, Row);
  for (int Field = 0; Field < 5 && Field < Fields.size(); ++Field)
    Grid->SetCells(ColumnOfField[static_cast<size_t>(Field)], Row, Fields[Field]);
  ++RowCounter;
  Grid->setRowCount(Grid->RowCount() + 10);
}

void TFrmErroReader::ClearExceptionValues()
{
  FContinuedValue = nullptr;
  ExcClassName.clear();
  ExcApplicationName.clear();
  ExcDate.clear();
  ExcErrorType.clear();
  ExcErrorClass.clear();
}

void TFrmErroReader::FillTheStringGridWithexceptionValues(const QString& Line, int FirstRow)
{
  if (Line.contains(ExceptionStartText)) {
    // A section whose end marker is missing keeps its row; the next section
    // starts afresh on the row after it.
    if (FExceptionRowOpen) {
      ++RowCounter;
      FExceptionRowOpen = false;
    }
    ClearExceptionValues();
    return;
  }
  if (Line.contains(ExceptionEndText)) {
    ClearExceptionValues();
    ++RowCounter;
    FExceptionRowOpen = false;
    return;
  }
  const std::array<std::pair<QLatin1String, QString*>, 5> Keys{{{ExcepClassNameKey, &ExcClassName},
                                                                 {ExcepApplicationNameKey, &ExcApplicationName},
                                                                 {ExcepDateKey, &ExcDate},
                                                                 {ExcepErrorTypeKey, &ExcErrorType},
                                                                 {ExcepErrorClassKey, &ExcErrorClass}}};
  bool IsKeyLine = false;
  for (const auto& [Key, Value] : Keys) {
    if (!Line.startsWith(Key))
      continue;
    IsKeyLine = true;
    *Value = ExceptionValue(Line, Key);
    // Earlier writers put a message's later lines on lines of their own,
    // the terminator after the last: they belong to the value.
    FContinuedValue = Line.endsWith(Terminator) ? nullptr : Value;
    if (Value == &ExcErrorClass)
      bLastreached = true;
  }
  if (!IsKeyLine && FContinuedValue) {
    const bool Last = Line.endsWith(Terminator);
    *FContinuedValue += QLatin1Char('\n') + Line.left(Line.size() - (Last ? 1 : 0));
    if (Last)
      FContinuedValue = nullptr;
  }
  if (bLastreached) {
    TStringGrid* Grid = FUi->StringGridException;
    const int Row = FirstRow + RowCounter;
    EnsureRow(Grid, Row);
    Grid->SetCells(0, Row, VisibleValue(TrimText(ExcClassName)));
    Grid->SetCells(1, Row, VisibleValue(TrimText(ExcApplicationName)));
    Grid->SetCells(2, Row, VisibleValue(TrimText(ExcDate)));
    Grid->SetCells(3, Row, VisibleValue(TrimText(ExcErrorType)));
    Grid->SetCells(4, Row, VisibleValue(TrimText(ExcErrorClass)));
    bLastreached = false;
    FExceptionRowOpen = true;
    Grid->setRowCount(Grid->RowCount() + 10);
  }
}

void TFrmErroReader::RemoveExtraBlankRowsStringGridProcessList(TStringGrid* Grid, int RowCount)
{
  // The blank rows that the filling added at the end go. A row counts as
  // filled when any of its cells holds text, and a blank row between filled
  // ones stays: no filled row is lost, whichever of its cells is empty.
  const auto Filled = [Grid](int Row) {
    for (int Col = 0; Col < Grid->ColCount(); ++Col)
      if (!TrimText(Grid->Cells(Col, Row)).isEmpty())
        return true;
    return false;
  };
  int LastFilled = 0;
  for (int Row = RowCount; Row >= 1; --Row) {
    if (Filled(Row)) {
      LastFilled = Row;
      break;
    }
  }
  Grid->setRowCount(LastFilled + 1);
}

// Display and colouring -----------------------------------------------------

void TFrmErroReader::StringGridProcessListHeaders()
{
  static const std::array<QString, 5> ProcessHeaders{
    QStringLiteral("ID"), QStringLiteral("Process Name"), QStringLiteral("User"), QStringLiteral("Domain"),
    QStringLiteral("Memory (KB)")};
  static const std::array<QString, 5> ExceptionHeaders{
    QStringLiteral("ClassName"), QStringLiteral("Application Name"), QStringLiteral("date/time"),
    QStringLiteral("Error Type"), QStringLiteral("Error Class")};
  for (int Col = 0; Col < 5; ++Col) {
    FUi->StringGridProcessList->SetCells(Col, 0, ProcessHeaders[static_cast<size_t>(Col)]);
    FUi->StringGridException->SetCells(Col, 0, ExceptionHeaders[static_cast<size_t>(Col)]);
  }
}

void TFrmErroReader::DisplayOnMemo()
{
  RichEdit::TRichEdit* Memo = FUi->REBoxAppInformation;
  const auto Add = [Memo](const QString& Line) { Memo->AddLine(Line); };
  const auto Heading = [&](const char* Text) {
    Add(QString::fromLatin1(Text));
    Add(Rule);
  };
  const auto Label = [&](const char* Text, const QString& Value) { Add(QString::fromLatin1(Text) + Value); };

  Heading("Application information");
  Label("Product name    :-", FAppInfo.ProductName);
  Label("Company name    :-", FAppInfo.CompanyName);
  Label("Product version :-", FAppInfo.ProductVersion);
  Label("Executable path :-", FAppInfo.ExecutablePath);
  Label("File version    :-", FAppInfo.FileVersion);
  Label("Executable size :-", FAppInfo.ExecutableSize);
  Add(QString());
  Add(QString());

  Heading("Operating system details");
  Label("Operating system name             :-", FSysInfo.OSName);
  Label("Operating system version          :-", FSysInfo.OSVersion);
  Label("Operating system build number     :-", FSysInfo.BuildNumber);
  Label("Operating system build type       :-", FSysInfo.BuildType);
  Label("Operating system code set         :-", FSysInfo.CodeSet);
  Label("Operating system country code     :-", FSysInfo.CountryCode);
  Label("Operating system Boot device      :-", FSysInfo.BootDevice);
  Label("Operating system bits             :-", FSysInfo.Bits);
  Label("Operating system system directory :-", FSysInfo.SystemDirectory);
  Label("system name                       :-", FSysInfo.SystemName);
  Add(QString());
  Add(QString());

  Heading("RAM details");
  Label("Memory in use :-", FSysInfo.RamInUse);
  Label("Total RAM     :-", FSysInfo.RamTotal);
  Label("RAM available :-", FSysInfo.RamAvailable);
  Add(QString());
  Add(QString());

  Heading("CPU details");
  Label("CPU vendor :-", FCpuInfo.VendorID);
  Label("CPU name   :-", FCpuInfo.CPUName);
  Add(QString());
  Add(QString());

  Heading("Network details");
  Label("IP Address :-", FNetInfo.IPAddress);
  Label("MAC Address :-", FNetInfo.MACAddress);
}

void TFrmErroReader::SetTextColor(RichEdit::TRichEdit* Edit, const QString& Text,
                                  const TTextAttributes& Attributes)
{
  RichEdit::TCharFormat2 Format;
  Format.Mask = RichEdit::CFM_BACKCOLOR;
  Format.BackColor = Attributes.BackColor;
  const int Length = static_cast<int>(std::min<qsizetype>(Edit->Text().size(), INT_MAX));
  Edit->BeginUpdate();
  int Found = Edit->FindText(Text, 0, Length, 0);
  while (Found != -1) {
    Edit->SetSelStart(Found);
    Edit->SetSelLength(static_cast<int>(Text.size()));
    Edit->SetSelFont(Attributes.HighlightFont);
    Edit->SetSelCharFormat(Format);
    Found = Edit->FindText(Text, Found + static_cast<int>(Text.size()), Length, 0);
  }
  Edit->EndUpdate();
}

void TFrmErroReader::colorMyString(const QString& Text, RichEdit::TRichEdit* Edit)
{
  TTextAttributes Attributes;
  Attributes.HighlightFont.Color = ColorToQColor(Colors::clBlue);
  Attributes.HighlightFont.Style = RichEdit::fsBold;
  Attributes.BackColor = ColorToQColor(Colors::clWhite);
  SetTextColor(Edit, Text, Attributes);
}

void TFrmErroReader::colorOtherThings(const QString& Text, RichEdit::TRichEdit* Edit, int Kind)
{
  TTextAttributes Attributes;
  switch (Kind) {
  case 1:
    Attributes.HighlightFont.Color = ColorToQColor(Colors::clRed);
    Attributes.HighlightFont.Size = 10;
    Attributes.HighlightFont.Style = RichEdit::fsBold;
    Attributes.BackColor = ColorToQColor(Colors::clWhite);
    break;
  case 2:
    // White on white: the text is there but not seen.
    Attributes.HighlightFont.Color = ColorToQColor(Colors::clWhite);
    Attributes.BackColor = ColorToQColor(Colors::clWhite);
    break;
  default:
    return;
  }
  SetTextColor(Edit, Text, Attributes);
}

void TFrmErroReader::setTheColor()
{
  colorMyString(QStringLiteral("Application information"), FUi->REBoxAppInformation);
  colorMyString(QStringLiteral("Operating system details"), FUi->REBoxAppInformation);
  colorMyString(QStringLiteral("RAM details"), FUi->REBoxAppInformation);
  colorMyString(QStringLiteral("Network details"), FUi->REBoxAppInformation);
  colorOtherThings(QStringLiteral(":-"), FUi->REBoxAppInformation, 1);
  colorOtherThings(QStringLiteral(";"), FUi->REBoxAppInformation, 2);
  colorMyString(LineSearchText, FUi->RichEditErrorCallStack);
}

}  // namespace u_errorFileReader
