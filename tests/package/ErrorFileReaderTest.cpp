#include "package/u_errorFileReader.h"

#include "hostfw/Exceptions.h"
#include "hostfw/StringGrid.h"
#include "tests/package/ViewerTestSupport.h"

#include <QApplication>
#include <QFrame>
#include <QPointer>
#include <QTabWidget>
#include <QTextCharFormat>

#include <gtest/gtest.h>

#include <memory>

using namespace ViewerTests;
using u_errorFileReader::TFrmErroReader;
using StringGrid::TStringGrid;

namespace {

const QStringList ProcessHeaders{"ID\tProcess Name\tUser\tDomain\tMemory (KB)"};
const QStringList ExceptionHeaders{"ClassName\tApplication Name\tdate/time\tError Type\tError Class"};

QStringList Rows(const TStringGrid* Grid)
{
  QStringList Result;
  for (int Row = 0; Row < Grid->RowCount(); ++Row) {
    QStringList Cells;
    for (int Col = 0; Col < Grid->ColCount(); ++Col)
      Cells << Grid->Cells(Col, Row);
    Result << Cells.join(QLatin1Char('\t'));
  }
  return Result;
}

std::unique_ptr<TFrmErroReader> Open(const TReportFile& File)
{
  return std::make_unique<TFrmErroReader>(nullptr, File.Name());
}

// The environment and version block of a report, as the component writes it.
QStringList EnvironmentBlock()
{
  return {"OSName:Debian GNU/Linux;", "Version:6.1.0;", "BuildNumber:#1 SMP;", "BuildType:Free;",
          "CodeSet:1252;", "CountryCode:49;", "Bit:64 bits;", "System Directory:/usr/lib;", "RAMINUSE:37 %;",
          "RAMTOTAL:16 GB;", "RAMAVAIL:9 GB;", "SYSTEMNAME:buildhost;", "BootDevice:/dev/sda1;",
          "VendorID:GenuineIntel;", "CPUname:Some CPU;", "IPAddres:10.0.0.5", "10.0.0.6", ";",
          "MAC Addres:00:11:22:33:44:55;", "Size :4096;", "Company Name:Example Ltd;",
          "File Version:1.2.3.4;", "Product Name:Demo App;", "Product Version:1.2;", "Comments:none;"};
}

}  // namespace

TEST(ErrorFileReader, TaggedValuesCountAtTheStartOfALineOnly)
{
  QStringList Lines = EnvironmentBlock();
  Lines << HmldFormat::ProcessStartMarker() << HmldFormat::ProcessHeader() << HmldFormat::ProcessEndMarker();
  // Keys inside a line change nothing: a stack frame, a comment, an indented key.
  Lines << StackSection({"[00401000] Unit.cpp Line 12 Version:9.9 OSName:Evil;", " CPUname:indented;"});
  Lines << "Comments by the User :Size :1;RAMTOTAL:1 GB;";
  const TReportFile File(Lines);
  const auto Form = Open(File);

  const auto& App = Form->AppInfo();
  // The version values keep their terminator; no key gives the path.
  EXPECT_EQ(App.ExecutableSize, "4096;");
  EXPECT_EQ(App.CompanyName, "Example Ltd;");
  EXPECT_EQ(App.FileVersion, "1.2.3.4;");
  EXPECT_EQ(App.ProductName, "Demo App;");
  EXPECT_EQ(App.ProductVersion, "1.2;");
  EXPECT_EQ(App.Comments, "none;");
  EXPECT_EQ(App.ExecutablePath, "");
  const auto& Sys = Form->SysInfo();
  // "File Version:" and "Product Version:" come after "Version:" and leave it.
  EXPECT_EQ(Sys.OSVersion, "6.1.0");
  EXPECT_EQ(Sys.OSName, "Debian GNU/Linux");
  EXPECT_EQ(Sys.Bits, "64 bits");
  EXPECT_EQ(Sys.RamInUse, "37 %");
  EXPECT_EQ(Sys.RamTotal, "16 GB");
  EXPECT_EQ(Sys.SystemDirectory, "/usr/lib");
  EXPECT_EQ(Sys.BootDevice, "/dev/sda1");
  EXPECT_EQ(Form->CpuInfo().CPUName, "Some CPU");
  // The first address only; the others stand on lines of their own.
  EXPECT_EQ(Form->NetInfo().IPAddress, "10.0.0.5");
  EXPECT_EQ(Form->NetInfo().MACAddress, "00:11:22:33:44:55");
}

TEST(ErrorFileReader, TheLastLineOfAKeyWinsAndSemicolonsGoEverywhereInSystemValues)
{
  const TReportFile File(QStringList{"OSName:first;", "OSName:se;co;nd;", "Product Name:a;b;", "Version:;",
                                     "No FileVersionInfo found;", "CPUname:", "MAC Addres:;;;"});
  const auto Form = Open(File);
  EXPECT_EQ(Form->SysInfo().OSName, "second");
  EXPECT_EQ(Form->AppInfo().ProductName, "a;b;");
  EXPECT_EQ(Form->SysInfo().OSVersion, "");
  EXPECT_EQ(Form->CpuInfo().CPUName, "");
  EXPECT_EQ(Form->NetInfo().MACAddress, "");
  EXPECT_EQ(Form->AppInfo().ExecutableSize, "");
}

TEST(ErrorFileReader, DetailsPageShowsTheLabelledValues)
{
  QStringList Lines = EnvironmentBlock();
  const TReportFile File(Lines);
  const auto Form = Open(File);
  const QString Rule = u_errorFileReader::Rule;
  ASSERT_EQ(Rule.size(), 52);
  const QStringList Expected{
    "Application information", Rule,
    "Product name    :-Demo App;", "Company name    :-Example Ltd;", "Product version :-1.2;",
    "Executable path :-", "File version    :-1.2.3.4;", "Executable size :-4096;", "", "",
    "Operating system details", Rule,
    "Operating system name             :-Debian GNU/Linux", "Operating system version          :-6.1.0",
    "Operating system build number     :-#1 SMP", "Operating system build type       :-Free",
    "Operating system code set         :-1252", "Operating system country code     :-49",
    "Operating system Boot device      :-/dev/sda1", "Operating system bits             :-64 bits",
    "Operating system system directory :-/usr/lib", "system name                       :-buildhost", "", "",
    "RAM details", Rule, "Memory in use :-37 %", "Total RAM     :-16 GB", "RAM available :-9 GB", "", "",
    "CPU details", Rule, "CPU vendor :-GenuineIntel", "CPU name   :-Some CPU", "", "",
    "Network details", Rule, "IP Address :-10.0.0.5", "MAC Address :-00:11:22:33:44:55"};
  EXPECT_EQ(Form->REBoxAppInformation()->Lines(), Expected);
  // Without sections the grids keep their header row only.
  EXPECT_EQ(Rows(Form->StringGridProcessList()), ProcessHeaders);
  EXPECT_EQ(Rows(Form->StringGridException()), ExceptionHeaders);
  EXPECT_EQ(Form->RichEditErrorCallStack()->Lines(), QStringList());
}

TEST(ErrorFileReader, ProcessRowsOfTheFirstSectionFillTheGrid)
{
  QStringList Lines{HmldFormat::ProcessStartMarker(), HmldFormat::ProcessHeader()};
  Lines << ProcessRow("systemd", "1", "root", "host", "12345.5");
  Lines << ProcessRow("Web Content", "4242", "alice", "my host", "980.25");
  // Without owner, identifier and working set have no bar between them.
  Lines << ProcessRow("kworker/0:1", "17", "", "", "0");
  Lines << "\tbash\t|  77 ;| bob";  // fewer fields, tabs and ";" dropped
  Lines << HmldFormat::ProcessEndMarker();
  Lines << HmldFormat::ProcessStartMarker() << ProcessRow("second", "99", "x", "y", "1")
        << HmldFormat::ProcessEndMarker();
  const TReportFile File(Lines);
  const auto Form = Open(File);
  EXPECT_EQ(Rows(Form->StringGridProcessList()),
            (ProcessHeaders + QStringList{"1\tsystemd\troot\thost\t12345.5", "4242\tWebContent\talice\tmyhost\t980.25",
                                         "17\tkworker/0:1\t\t\t0", "77\tbash\tbob\t\t"}));
}

TEST(ErrorFileReader, NoProcessRowIsLostToAnEmptyId)
{
  const TReportFile File(QStringList{HmldFormat::ProcessStartMarker(), ProcessRow("a", "1", "u", "d", "1"),
                                     "no bars here", ProcessRow("c", "3", "u", "d", "3"),
                                     HmldFormat::ProcessEndMarker()});
  const auto Form = Open(File);
  // The row without an ID stays where it is; rows after it are all shown.
  EXPECT_EQ(Rows(Form->StringGridProcessList()),
            (ProcessHeaders + QStringList{"1\ta\tu\td\t1", "\tnobarshere\t\t\t", "3\tc\tu\td\t3"}));
  EXPECT_EQ(Form->StringGridProcessList()->Cells(1, 2), "nobarshere");
}

TEST(ErrorFileReader, EveryExceptionGivesARowAndEveryStackIsShown)
{
  QStringList Lines = EnvironmentBlock();
  Lines << ExceptionSection("QPushButton", "first message", "std::runtime_error");
  Lines << StackSection({"[00401000] main.cpp Line 12"});
  Lines << ExceptionSection("QWidget", "  padded  ", "EInOutError");
  Lines << StackSection({"[00402000] other.cpp Line 7", "[00403000] Outline"});
  const TReportFile File(Lines);
  const auto Form = Open(File);
  EXPECT_EQ(Rows(Form->StringGridException()),
            (ExceptionHeaders + QStringList{"QPushButton\tapp\t08/12/2026\tfirst message\tstd::runtime_error",
                                           "QWidget\tapp\t08/12/2026\tpadded\tEInOutError"}));
  EXPECT_EQ(Form->RichEditErrorCallStack()->Lines(),
            (QStringList{"|**************Stack_trace_error_start**************|", "08/12/2026 00:10:00",
                         "[00401000] main.cpp Line 12", "|**************Stack_trace_error_end**************|",
                         "|**************Stack_trace_error_start**************|", "08/12/2026 00:10:00",
                         "[00402000] other.cpp Line 7", "[00403000] Outline",
                         "|**************Stack_trace_error_end**************|"}));
}

TEST(ErrorFileReader, ExceptionValuesAtTheirBoundaries)
{
  const TReportFile File(QStringList{
    "[____________________Exception_Log_start_____________________]",
    "Excep_ClassName :",          // the key alone
    "Excep_ApplicationName :;",   // the key and its terminator
    "Excep_date :x",              // no terminator: the value keeps its end
    "Excep_sErrorType :First line of the message",
    "Second line;",
    " Excep_sErrorclass :not at the start;",
    "Excep_sErrorclass :E;",
    "[____________________Exception_Log_end_____________________]"});
  const auto Form = Open(File);
  // Earlier writers continued a message with line breaks on the lines
  // after its key line; they are read as its later lines.
  EXPECT_EQ(Rows(Form->StringGridException()),
            (ExceptionHeaders + QStringList{"\t\tx\tFirst line of the message\u240ASecond line\tE"}));
}

TEST(ErrorFileReader, NoValueAddsALineAKeyOrAMarker)
{
  // What hostile processes, a hostile message and a hostile frame put into
  // a report through the writer.
  const QString FakeEnd = HmldFormat::ProcessEndMarker();
  const QString Forged = QStringLiteral("a\r\nExcep_sErrorclass :Forged;\r\n") +
                         HmldFormat::BracketMarker(HmldFormat::ExceptionEndText) + QStringLiteral("\r\nOSName:Hacked;");
  QStringList Lines = EnvironmentBlock();
  Lines << HmldFormat::ProcessStartMarker() << HmldFormat::ProcessHeader()
        << ProcessRow("\nOSName:Hacked", "10", "root", "host", "1")
        << ProcessRow("OSName:Plain", "11", "root", "host", "1")
        << ProcessRow("x\r\n" + FakeEnd + "\r\n" + HmldFormat::ExceptionSectionLines({}).join("\r\n"), "12", "ev|l",
                      "host", "1")
        << ProcessRow("app", "13", "alice", "host", "2") << FakeEnd;
  Lines << ExceptionSection("QPushButton", Forged, "std::runtime_error");
  Lines << StackSection({HmldFormat::FrameLine("[00001000] f (Line 1, \"a\nStack_trace_error_end.cpp\")")});
  const TReportFile File(Lines);
  const auto Form = Open(File);

  EXPECT_EQ(Form->SysInfo().OSName, QStringLiteral("Debian GNU/Linux"));
  const TStringGrid* Processes = Form->StringGridProcessList();
  ASSERT_EQ(Processes->RowCount(), 5);
  EXPECT_EQ(Processes->Cells(1, 1), QStringLiteral("\u240AOSName:Hacked"));
  EXPECT_EQ(Processes->Cells(1, 2), QStringLiteral("OSName:Plain"));
  EXPECT_TRUE(Processes->Cells(1, 3).startsWith(QStringLiteral("x\u240D\u240A[____________________ProcessInformationend")))
    << Processes->Cells(1, 3).toStdString();
  EXPECT_EQ(Processes->Cells(0, 3), QStringLiteral("12"));
  EXPECT_EQ(Processes->Cells(2, 3), QStringLiteral("ev|l"));
  EXPECT_EQ(Processes->Cells(1, 4), QStringLiteral("app"));

  EXPECT_EQ(Rows(Form->StringGridException()),
            (ExceptionHeaders + QStringList{"QPushButton\tapp\t08/12/2026\ta\u240D\u240AExcep_sErrorclass :Forged;\u240D\u240A" +
                                           HmldFormat::BracketMarker(HmldFormat::ExceptionEndText) +
                                           "\u240D\u240AOSName:Hacked;\tstd::runtime_error"}));
  const QStringList Stack = Form->RichEditErrorCallStack()->Lines();
  ASSERT_EQ(Stack.size(), 4);
  EXPECT_EQ(Stack[2], QStringLiteral("[00001000] f (Line 1, \"a\u240AStack_trace_error_end.cpp\")"));
}

TEST(ErrorFileReader, DamagedExceptionSectionsLoseNoRow)
{
  const QString Start = HmldFormat::BracketMarker(HmldFormat::ExceptionStartText);
  const QString End = HmldFormat::BracketMarker(HmldFormat::ExceptionEndText);
  const TReportFile File(QStringList{
    End,  // an end outside any section adds no row
    Start, "Excep_ClassName :A;", "Excep_sErrorclass :EA;",  // no end marker
    Start, "Excep_ClassName :B;", "Excep_sErrorclass :EB;", End,
    Start, "Excep_ApplicationName :only this;", End,  // no last key: no row, but its place
    Start, "Excep_sErrorclass :EC;"});  // the file ends inside the section
  const auto Form = Open(File);
  EXPECT_EQ(Rows(Form->StringGridException()),
            (ExceptionHeaders + QStringList{"A\t\t\t\tEA", "B\t\t\t\tEB", "\t\t\t\t", "\t\t\t\tEC"}));
}

TEST(ErrorFileReader, MissingOrUnreadableFiles)
{
  const auto Missing = std::make_unique<TFrmErroReader>(nullptr, QStringLiteral("/nonexistent/report.Hmld"));
  EXPECT_EQ(Missing->FileName(), "/nonexistent/report.Hmld");
  EXPECT_EQ(Missing->StringGridProcessList()->RowCount(), 2);
  EXPECT_EQ(Rows(Missing->StringGridProcessList()), QStringList({"\t\t\t\t", "\t\t\t\t"}));
  EXPECT_EQ(Missing->REBoxAppInformation()->Lines(), QStringList{QString()});
  EXPECT_EQ(Missing->RichEditErrorCallStack()->Lines(), QStringList());

  const TReportFile Empty(QByteArray{});
  const auto EmptyForm = Open(Empty);
  EXPECT_EQ(Rows(EmptyForm->StringGridException()), ExceptionHeaders);
  EXPECT_EQ(EmptyForm->REBoxAppInformation()->LineCount(), 41);

  // A file that opens but cannot be read raises out of the constructor.
  EXPECT_THROW(TFrmErroReader(nullptr, QStringLiteral("/proc/self/mem")), EInOutError);
}

TEST(ErrorFileReader, ColoursOfTheDetailsAndTheCallStack)
{
  QStringList Lines = EnvironmentBlock();
  Lines[0] = "OSName:ram DETAILS x:-y;";
  Lines << StackSection({"[00401000] Outline LINE 3"});
  const TReportFile File(Lines);
  const auto Form = Open(File);
  RichEdit::TRichEdit* Details = Form->REBoxAppInformation();
  const QString Text = Details->toPlainText();
  const auto At = [&](const QString& Needle, int From = 0) { return static_cast<int>(Text.indexOf(Needle, From)); };
  const QColor Blue(0, 0, 255), Red(255, 0, 0), White(255, 255, 255);

  for (const QString Heading : {"Application information", "Operating system details", "RAM details",
                                "Network details", "ram DETAILS"}) {
    const QTextCharFormat Format = Details->CharFormatAt(At(Heading) + 1);
    EXPECT_EQ(Format.foreground().color(), Blue) << Heading.toStdString();
    EXPECT_EQ(Format.fontWeight(), QFont::Bold) << Heading.toStdString();
    EXPECT_EQ(Format.background().color(), White) << Heading.toStdString();
  }
  const QTextCharFormat Cpu = Details->CharFormatAt(At("CPU details"));
  EXPECT_NE(Cpu.foreground().color(), Blue);
  EXPECT_NE(Cpu.fontWeight(), QFont::Bold);

  // Every ":-", the one inside a value too.
  for (int Position : {At(":-"), At(":-") + 1, At("x:-y") + 1, At("MAC Address :-") + 12}) {
    const QTextCharFormat Format = Details->CharFormatAt(Position);
    EXPECT_EQ(Format.foreground().color(), Red) << Position;
    EXPECT_EQ(Format.fontPointSize(), 10) << Position;
    EXPECT_EQ(Format.fontWeight(), QFont::Bold) << Position;
  }
  EXPECT_NE(Details->CharFormatAt(At(":-") + 2).foreground().color(), Red);

  // ";" kept in the version values is white on white.
  const int Semicolon = At("Demo App;") + 8;
  ASSERT_EQ(Text[Semicolon], QLatin1Char(';'));
  EXPECT_EQ(Details->CharFormatAt(Semicolon).foreground().color(), White);
  EXPECT_EQ(Details->CharFormatAt(Semicolon).background().color(), White);
  EXPECT_NE(Details->CharFormatAt(Semicolon - 1).foreground().color(), White);

  // "Line" in any case and inside longer words.
  RichEdit::TRichEdit* Stack = Form->RichEditErrorCallStack();
  const QString StackText = Stack->toPlainText();
  for (const QString Word : {"Outline", "LINE 3"}) {
    const int Position = static_cast<int>(StackText.indexOf(Word)) + (Word == "Outline" ? 3 : 0);
    EXPECT_EQ(Stack->CharFormatAt(Position).foreground().color(), Blue) << Word.toStdString();
    EXPECT_EQ(Stack->CharFormatAt(Position + 3).fontWeight(), QFont::Bold) << Word.toStdString();
  }
  EXPECT_NE(Stack->CharFormatAt(static_cast<int>(StackText.indexOf("Outline"))).foreground().color(), Blue);
}

TEST(ErrorFileReader, StoredLayoutAndResizing)
{
  const TReportFile File(EnvironmentBlock());
  auto Form = Open(File);
  EXPECT_EQ(Form->windowTitle(), "Error Information :");
  EXPECT_TRUE(Form->isWindow());
  EXPECT_EQ(Form->pos(), QPoint(242, 175));
  EXPECT_EQ(Form->size(), QSize(951, 365));
  EXPECT_EQ(Form->font().family(), "MS Sans Serif");
  EXPECT_EQ(Form->font().pointSize(), 8);
  QTabWidget* Pages = Form->PageControlApplicationInformation();
  ASSERT_EQ(Pages->count(), 4);
  EXPECT_EQ(Pages->tabText(0), "Application and system information");
  EXPECT_EQ(Pages->tabText(1), "Process information");
  EXPECT_EQ(Pages->tabText(2), "Exception Details");
  EXPECT_EQ(Pages->tabText(3), "Error call stack");
  EXPECT_EQ(Pages->currentIndex(), 0);
  for (TStringGrid* Grid : {Form->StringGridProcessList(), Form->StringGridException()}) {
    EXPECT_EQ(Grid->ColWidths(), "75,228,177,224,166");
    EXPECT_EQ(Grid->FixedColor(), QColor(192, 220, 192));
    EXPECT_TRUE(Grid->RowSizing() && Grid->ColSizing());
  }
  EXPECT_TRUE(Form->REBoxAppInformation()->isReadOnly());
  EXPECT_TRUE(Form->RichEditErrorCallStack()->isReadOnly());
  EXPECT_EQ(Form->RichEditErrorCallStack()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  Form->show();
  Pages->setCurrentIndex(2);
  QApplication::processEvents();
  const QSize Grid = Form->StringGridException()->size();
  Pages->setCurrentIndex(0);
  QApplication::processEvents();
  EXPECT_EQ(Form->Panel1()->geometry(), QRect(0, 0, 951, 41));
  EXPECT_EQ(Pages->geometry(), QRect(0, 48, 951, 317));
  const QSize Details = Form->REBoxAppInformation()->size();
  // At the stored window size the controls have about their stored size; the
  // exact page size is the style's.
  EXPECT_NEAR(Details.width(), 918, 12);
  EXPECT_NEAR(Details.height(), 253, 12);

  Form->resize(1151, 465);
  QApplication::processEvents();
  EXPECT_EQ(Form->Panel1()->geometry(), QRect(0, 0, 1151, 41));
  EXPECT_EQ(Pages->geometry(), QRect(0, 48, 1151, 417));
  EXPECT_EQ(Form->REBoxAppInformation()->size(), Details + QSize(200, 100));
  Pages->setCurrentIndex(2);
  QApplication::processEvents();
  EXPECT_EQ(Form->StringGridException()->size(), Grid + QSize(200, 100));
  EXPECT_EQ(Form->StringGridException()->pos(), QPoint(12, 24));
}

TEST(ErrorFileReader, TwoWindowsOnOneFileStayIndependent)
{
  QStringList Lines = EnvironmentBlock();
  Lines << ExceptionSection("QPushButton", "message", "std::runtime_error");
  const TReportFile File(Lines);
  // As the error prompt opens them: a new window for each click, the last
  // one kept in FrmErroReader.
  using u_errorFileReader::FrmErroReader;
  QPointer<TFrmErroReader> First = FrmErroReader = new TFrmErroReader(nullptr, File.Name());
  QPointer<TFrmErroReader> Second = new TFrmErroReader(nullptr, File.Name());
  First->show();
  Second->show();
  EXPECT_EQ(Rows(First->StringGridException()), Rows(Second->StringGridException()));
  EXPECT_EQ(First->REBoxAppInformation()->Lines(), Second->REBoxAppInformation()->Lines());

  u_errorFileReader::TCloseAction Action = u_errorFileReader::caHide;
  First->FormClose(First, Action);
  EXPECT_EQ(Action, u_errorFileReader::caFree);
  EXPECT_TRUE(First->close());
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(First.isNull());  // closing frees the window
  EXPECT_TRUE(FrmErroReader.isNull());
  ASSERT_FALSE(Second.isNull());
  EXPECT_TRUE(Second->isVisible());
  EXPECT_EQ(Rows(Second->StringGridException()),
            (ExceptionHeaders + QStringList{"QPushButton\tapp\t08/12/2026\tmessage\tstd::runtime_error"}));
  EXPECT_EQ(Second->REBoxAppInformation()->LineCount(), 41);
  delete Second;
}
