#pragma once
// Report files for the viewer's tests, written as the component writes them:
// CR LF after every line, single-byte text; and what the viewer shows of them.

#include "hostfw/Colors.h"
#include "package/HmldFormat.h"
#include "package/u_errorFileReader.h"
#include "tests/support/Pictures.h"

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QScrollBar>
#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

// Texts in test messages.
inline void PrintTo(const QString& Text, std::ostream* Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace ViewerTests {

using TestSupport::Holds;

inline QByteArray CrLfLines(const QStringList& Lines)
{
  return (Lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n")).toLatin1();
}

// A report file in a folder of its own that goes with the object.
class TReportFile {
public:
  explicit TReportFile(const QByteArray& Bytes, const QString& Name = QStringLiteral("app_halvern_leak_log.Hmld"))
    : FName(FDir.filePath(Name))
  {
    QFile File(FName);
    if (File.open(QIODevice::WriteOnly))
      File.write(Bytes);
  }
  explicit TReportFile(const QStringList& Lines) : TReportFile(CrLfLines(Lines)) {}
  const QString& Name() const { return FName; }

private:
  QTemporaryDir FDir;
  QString FName;
};

inline QString ProcessRow(const QString& Caption, const QString& Id, const QString& User, const QString& Domain,
                          const QString& Memory)
{
  HmldFormat::TProcessRow Row;
  Row.Caption = Caption;
  Row.ProcessId = Id;
  Row.HasOwner = !User.isEmpty() || !Domain.isEmpty();
  Row.User = User;
  Row.Domain = Domain;
  Row.WorkingSetKb = Memory;
  return HmldFormat::ProcessRow(Row);
}

inline QStringList ExceptionSection(const QString& Sender, const QString& Message, const QString& ClassName)
{
  return HmldFormat::ExceptionSectionLines(
    {Sender, QStringLiteral("app"), QStringLiteral("08/12/2026"), Message, ClassName});
}

inline QStringList StackSection(const QStringList& Frames)
{
  QStringList Lines = HmldFormat::StackSectionOpening(QStringLiteral("08/12/2026 00:10:00"));
  Lines << Frames << HmldFormat::StackSectionClosing();
  return Lines;
}

// A report with every block filled; the details and the call stack are
// both longer than their pages.
inline QStringList FullReport()
{
  QStringList Lines{"OSName:Debian GNU/Linux 12;", "Version:6.1.0-18-amd64;", "BuildNumber:#1 SMP;",
                    "BuildType:PREEMPT_DYNAMIC;", "CodeSet:1252;", "CountryCode:44;", "Bit:64 bits;",
                    "System Directory:/usr/lib;", "RAMINUSE:12 %;", "RAMTOTAL:31.2 GB;", "RAMAVAIL:27.4 GB;",
                    "SYSTEMNAME:workstation;", "BootDevice:/dev/nvme0n1p2;", "VendorID:AuthenticAMD;",
                    "CPUname:AMD Ryzen 7;", "IPAddres:192.168.1.20", ";", "MAC Addres:A2-A0-FD-C6-A5-F2;",
                    "Size :1052;", "Company Name:Corvane;", "File Version:1.1.0;", "Product Name:Corvane;",
                    "Product Version:1.1.0;", "Comments:Raises exceptions on request;"};
  Lines << HmldFormat::ProcessStartMarker() << HmldFormat::ProcessHeader();
  for (int Id = 1; Id <= 40; ++Id)
    Lines << ProcessRow(QStringLiteral("worker%1").arg(Id), QString::number(Id), QStringLiteral("root"),
                        QStringLiteral("workstation"), QString::number(Id * 100));
  Lines << HmldFormat::ProcessEndMarker();
  Lines << ExceptionSection(QStringLiteral("QPushButton"), QStringLiteral("Demo exception raised on request"),
                            QStringLiteral("std::runtime_error"));
  QStringList Frames;
  for (int Frame = 0; Frame < 40; ++Frame)
    Frames << QStringLiteral("[%1] Unit::Step%2 (Line %3, \"Unit.cpp\" + 2)")
                .arg(0x4000 + Frame * 16, 8, 16, QLatin1Char('0'))
                .arg(Frame)
                .arg(100 + Frame);
  Lines << StackSection(Frames);
  Lines << HmldFormat::CommentBlockLines(QStringLiteral("It broke"), QStringLiteral("/tmp/shot.bmp"),
                                         QStringLiteral("/tmp/bugReport.zip"));
  return Lines;
}

// Whether a picture holds a pixel of the colours a selection is drawn in,
// with the focus or without.
inline bool HoldsSelectionColour(const QImage& Picture)
{
  const QPalette Palette = QApplication::palette();
  return Holds(Picture, Palette.color(QPalette::Active, QPalette::Highlight)) ||
         Holds(Picture, Palette.color(QPalette::Inactive, QPalette::Highlight));
}

// The line at the top of what an edit shows.
inline QString FirstVisibleLine(const RichEdit::TRichEdit& Edit)
{
  return Edit.cursorForPosition(QPoint(1, 1)).block().text();
}

// What an edit draws of itself.
inline QImage DrawnPicture(RichEdit::TRichEdit* Edit) { return Edit->grab().toImage(); }

// Brings the details and then the call stack to the front of a viewer that
// is shown, and checks that each text shows its first line at the top, that
// nothing is drawn selected though the colouring left a selection, and that
// the highlights are drawn. Picture takes what an edit shows.
inline void ExpectEachTextAtItsTopWithNothingSelected(
  u_errorFileReader::TFrmErroReader& Form,
  const std::function<QImage(RichEdit::TRichEdit*)>& Picture = DrawnPicture)
{
  const QColor Blue = Colors::ColorToQColor(Colors::clBlue);
  const struct {
    int Page;
    RichEdit::TRichEdit* Edit;
    QString FirstLine;
  } Texts[] = {{0, Form.REBoxAppInformation(), QStringLiteral("Application information")},
               {3, Form.RichEditErrorCallStack(), HmldFormat::StackMarker(HmldFormat::StackStartText)}};
  for (const auto& Text : Texts) {
    SCOPED_TRACE(Text.FirstLine.toStdString());
    Form.PageControlApplicationInformation()->setCurrentIndex(Text.Page);
    QApplication::processEvents();
    const QScrollBar* Bar = Text.Edit->verticalScrollBar();
    EXPECT_GT(Bar->maximum(), 0) << "a text shorter than its page shows nothing of this";
    EXPECT_EQ(Bar->value(), Bar->minimum());
    EXPECT_EQ(Text.Edit->Lines().value(0), Text.FirstLine);
    EXPECT_EQ(FirstVisibleLine(*Text.Edit), Text.FirstLine);
    EXPECT_GT(Text.Edit->SelLength(), 0);
    EXPECT_FALSE(Text.Edit->hasFocus());
    const QImage Shown = Picture(Text.Edit);
    EXPECT_FALSE(HoldsSelectionColour(Shown));
    EXPECT_TRUE(Holds(Shown, Blue));
  }
}

}  // namespace ViewerTests
