// Hostile and damaged reports through the viewer's parse: nothing may crash,
// raise, hang or read past a grid (a grid refuses cells outside it), and what
// the window shows keeps its shape whatever the file held.

#include "package/u_errorFileReader.h"

#include "hostfw/StringGrid.h"
#include "tests/package/ViewerTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

using namespace ViewerTests;
using u_errorFileReader::TFrmErroReader;

namespace {

const std::array<const char*, 30> Tokens{
  "Process Information start", "Process Information end", "Exception_Log_start", "Exception_Log_end",
  "Stack_trace_error_start", "Stack_trace_error_end", "| Name    |", "Size :", "Company Name:", "File Version:",
  "Product Name:", "Product Version:", "Comments:", "OSName:", "Version:", "Bit:", "RAMINUSE:", "IPAddres:",
  "MAC Addres:", "CPUname:", "Excep_ClassName :", "Excep_ApplicationName :", "Excep_date :", "Excep_sErrorType :",
  "Excep_sErrorclass :", "|", ";", " ", "\t", "Line"};
const std::array<const char*, 5> LineEnds{"\r\n", "\n", "\r", "\r\n", "\0"};

// A report as the component writes it, to be damaged.
QByteArray WellFormedReport()
{
  QStringList Lines{"OSName:Debian;", "Version:6.1;", "Bit:64 bits;", "RAMINUSE:3 %;", "IPAddres:10.0.0.1", ";",
                    "Size :100;", "File Version:1.0;", HmldFormat::ProcessStartMarker(), HmldFormat::ProcessHeader()};
  Lines << ProcessRow("init", "1", "root", "host", "100") << ProcessRow("Web Content", "2", "", "", "5.5")
        << HmldFormat::ProcessEndMarker();
  Lines << ExceptionSection("QPushButton", "boom", "std::runtime_error") << StackSection({"[1] a.cpp Line 3"});
  Lines << ExceptionSection("QWidget", "again", "EInOutError") << StackSection({"[2] Outline"});
  return CrLfLines(Lines);
}

class TGenerator {
public:
  explicit TGenerator(unsigned Seed) : FRandom(Seed) {}

  int Below(int N) { return std::uniform_int_distribution<int>(0, N - 1)(FRandom); }

  QByteArray RandomBytes(int Size)
  {
    QByteArray Bytes(Size, '\0');
    for (char& Byte : Bytes) {
      // Line ends and separators more often than chance would have them.
      const int Pick = Below(20);
      Byte = Pick == 0 ? '\r' : Pick == 1 ? '\n' : Pick == 2 ? ';' : Pick == 3 ? '|' : Pick == 4 ? '\0'
                                                                                                   : char(Below(256));
    }
    return Bytes;
  }

  QByteArray TokenSoup(int Count)
  {
    QByteArray Bytes;
    for (int I = 0; I < Count; ++I) {
      const int Pick = Below(10);
      if (Pick < 6)
        Bytes += Tokens[static_cast<size_t>(Below(static_cast<int>(Tokens.size())))];
      else if (Pick < 8)
        Bytes += QByteArray(LineEnds[static_cast<size_t>(Below(5))], 2).left(Below(2) + 1);
      else
        Bytes += RandomBytes(Below(8));
    }
    return Bytes;
  }

  QByteArray Mutate(QByteArray Bytes, int Count)
  {
    for (int I = 0; I < Count && !Bytes.isEmpty(); ++I) {
      const int At = Below(static_cast<int>(Bytes.size()));
      switch (Below(7)) {
      case 0:
        Bytes[At] = char(Below(256));
        break;
      case 1:
        Bytes.insert(At, TokenSoup(1 + Below(3)));
        break;
      case 2:
        Bytes.remove(At, Below(40));
        break;
      case 3: {  // a line twice
        const qsizetype Start = Bytes.lastIndexOf('\n', At) + 1;
        const qsizetype End = Bytes.indexOf('\n', At);
        if (End > Start)
          Bytes.insert(Start, Bytes.mid(Start, End - Start + 1));
        break;
      }
      case 4:
        Bytes.replace("\r\n", Below(2) ? "\r" : "\n");
        break;
      case 5:
        Bytes.insert(At, QByteArray(1 + Below(4), '\0'));
        break;
      default:
        Bytes.truncate(At);
        break;
      }
    }
    return Bytes;
  }

private:
  std::mt19937 FRandom;
};

QByteArray Generated(unsigned Seed)
{
  TGenerator Generator(Seed);
  switch (Seed % 4) {
  case 0:
    return Generator.RandomBytes(Generator.Below(4096));
  case 1:
    return Generator.Mutate(WellFormedReport(), 1 + Generator.Below(12));
  case 2:
    return Generator.TokenSoup(Generator.Below(400));
  default:
    return Generator.Mutate(Generator.TokenSoup(200), 5);
  }
}

// What must hold for whatever the file held.
void ExpectSaneWindow(const TFrmErroReader& Form, const QByteArray& Bytes, const std::string& Case)
{
  SCOPED_TRACE(Case);
  // The details always have their 41 lines: no value spans lines.
  EXPECT_EQ(Form.REBoxAppInformation()->LineCount(), 41);
  const qsizetype LineBreaks = Bytes.count('\n') + Bytes.count('\r') + 1;
  for (const StringGrid::TStringGrid* Grid : {Form.StringGridProcessList(), Form.StringGridException()}) {
    ASSERT_EQ(Grid->ColCount(), 5);
    ASSERT_GE(Grid->RowCount(), 1);
    // No more rows than lines, and no blank row at the end.
    EXPECT_LE(Grid->RowCount() - 1, LineBreaks);
    if (Grid->RowCount() > 1) {
      bool LastFilled = false;
      for (int Col = 0; Col < 5; ++Col)
        LastFilled = LastFilled || !Grid->Cells(Col, Grid->RowCount() - 1).trimmed().isEmpty();
      EXPECT_TRUE(LastFilled);
    }
  }
  EXPECT_EQ(Form.StringGridProcessList()->Cells(1, 0), "Process Name");
  EXPECT_EQ(Form.StringGridException()->Cells(4, 0), "Error Class");
  // The call stack starts with a start marker whenever it shows anything.
  const QStringList Stack = Form.RichEditErrorCallStack()->Lines();
  if (!Stack.isEmpty()) {
    EXPECT_TRUE(Stack.first().contains("Stack_trace_error_start")) << Stack.first().left(80).toStdString();
  }
}

void Check(const QByteArray& Bytes, const std::string& Case)
{
  const TReportFile File(Bytes);
  try {
    const TFrmErroReader Form(nullptr, File.Name());
    ExpectSaneWindow(Form, Bytes, Case);
  } catch (const std::exception& E) {
    ADD_FAILURE() << Case << ": " << E.what();
  }
}

}  // namespace

TEST(ErrorFileReaderRobustness, ThousandsOfRandomAndDamagedReports)
{
  for (unsigned Seed = 1; Seed <= 1200; ++Seed) {
    Check(Generated(Seed), "seed " + std::to_string(Seed));
    if (HasFailure())
      return;  // one seed is enough to find the fault again
  }
}

TEST(ErrorFileReaderRobustness, HostileShapes)
{
  const QByteArray Start = "[____________________Exception_Log_start_____________________]";
  const QByteArray StackStart = "|**************Stack_trace_error_start**************|";
  const QByteArray ProcessStart = "[____________________Process Information start_____________________]";
  TGenerator Generator(42);
  QByteArray Huge(10 * 1024 * 1024, 'x');
  for (int I = 0; I < Huge.size(); I += 4096)
    Huge[I] = char('a' + Generator.Below(26));

  Check(Huge, "10 MB line without line end");
  Check("Size :" + Huge, "10 MB version value");
  Check(StackStart + "\r\n" + Huge, "10 MB stack line");
  Check(ProcessStart + "\r\n" + Huge.left(1024 * 1024).replace('x', "|"), "a process row of bars");
  Check(Generator.RandomBytes(256 * 1024), "random bytes");

  QByteArray Markers;
  for (const char* Token : Tokens)
    Markers += QByteArray(Token) + "\r\n";
  Check(Markers.repeated(200), "markers and keys only");
  Check(Markers.replace("\r\n", ""), "markers on one line");
  Check(Start + "\r\nExcep_sErrorclass :E;\r\n" + WellFormedReport(), "exception start without end");
  Check(StackStart + "\r\n" + StackStart + "\r\n", "stack start without end");
  Check(ProcessStart + "\r\n" + WellFormedReport(), "process start without end");

  QByteArray WithNul = WellFormedReport();
  for (qsizetype I = 0; I < WithNul.size(); I += 7)
    WithNul[I] = '\0';
  Check(WithNul, "NUL bytes");
  Check(QByteArray(WellFormedReport()).replace("\r\n", "\r"), "CR without LF");
  Check(QByteArray(WellFormedReport()).replace("\r\n", "\n"), "LF only");
  Check(QByteArray(), "empty file");
  Check(QByteArray(100000, '\r'), "line ends only");
  Check(QByteArray("Excep_sErrorclass :;").repeated(10000), "a key many times on one line");
}
