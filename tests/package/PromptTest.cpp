#include "tests/support/ExpectedReport.h"
#include "tests/package/TaskDialogTestSupport.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/package/ViewerTestSupport.h"

#include "package/Vesparo.h"
#include "hostfw/Exceptions.h"
#include "hostfw/FormatSettings.h"
#include "package/u_errorFileReader.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

using namespace TaskDialogTests;
using TestSupport::ReadAll;

namespace {

// Records what the prompt hands to the mail step.
class TMailRecordingVesparo : public VesparoTests::TRecordingVesparo {
public:
  struct TMail {
    QString Attachment, Comment, Report;
  };
  QList<TMail> Mails;
  void EmailDoc(const QString& Attachment, const QString& Comment, const QString& Report) override
  {
    Mails << TMail{Attachment, Comment, Report};
  }
};

// What the prompt showed.
struct TPromptSeen {
  QString Title, Inst, Content, Footer, Verify, Query;
  bool VerifyChecked = false, HasCloseBox = true, HasImage = false;
  QSize FooterImage;
  int Width = 0;
  QStringList Buttons;
  bool HasSeparator = false;
};

TPromptSeen See(QDialog& Dialog)
{
  TPromptSeen Seen;
  auto Text = [&Dialog](const char* Name) {
    const auto* Label = Dialog.findChild<QLabel*>(QLatin1String(Name));
    return Label ? Label->text() : QStringLiteral("<none>");
  };
  Seen.Title = Dialog.windowTitle();
  Seen.Inst = Text("Inst");
  Seen.Content = Text("Content");
  Seen.Footer = Text("Footer");
  const auto* Box = Dialog.findChild<QCheckBox*>();
  Seen.Verify = Box ? Box->text() : QStringLiteral("<none>");
  Seen.VerifyChecked = Box && Box->isChecked();
  const auto* Edit = Dialog.findChild<QLineEdit*>();
  Seen.Query = Edit ? Edit->text() : QStringLiteral("<none>");
  Seen.HasCloseBox = Dialog.windowFlags() & Qt::WindowCloseButtonHint;
  Seen.HasImage = Dialog.findChild<QLabel*>(QStringLiteral("Image")) != nullptr;
  if (const auto* Footer = Dialog.findChild<QLabel*>(QStringLiteral("FooterImage")))
    Seen.FooterImage = Footer->size();
  Seen.HasSeparator = Dialog.findChild<QFrame*>(QStringLiteral("Separator")) != nullptr;
  Seen.Width = Dialog.width();
  for (const TSynButton* Button : Dialog.findChildren<TSynButton*>())
    Seen.Buttons << QStringLiteral("%1=%2%3").arg(Button->text()).arg(Button->ModalResult()).arg(
      Button->isDefault() && Button->Cancel() ? QStringLiteral(" default cancel") : QString());
  return Seen;
}

class Prompt : public TWithReport {
protected:
  // The native dialog stands by, whatever the kernel's version: the prompt
  // must take the emulated path for its query flag, not for a lack of it.
  void SetUp() override
  {
    TWithReport::SetUp();
    Saved = TaskDialogIndirect;
    NativeCalls = 0;
    TaskDialogIndirect = [](const TaskDialog::TASKDIALOGCONFIG*, int*, int*, std::int32_t*) -> std::int32_t {
      ++NativeCalls;
      return TaskDialog::S_OK;
    };
    Component.VersionInformation();
  }
  void TearDown() override
  {
    TaskDialogIndirect = Saved;
    EXPECT_EQ(NativeCalls, 0);
    TWithReport::TearDown();
  }
  TMailRecordingVesparo Component;
  TTaskDialogIndirect Saved = nullptr;
  static inline int NativeCalls = 0;
};

}  // namespace

TEST_F(Prompt, ShowsTheRecordOfTheErrorPromptOnTheEmulatedPath)
{
  QList<TPromptSeen> Seen;
  TOnScreen Hook([&Seen](QDialog& Dialog) {
    Seen << See(Dialog);
    ButtonWithResult(Dialog, 1)->click();
  });
  Component.ErrorMessageBySynTask(QStringLiteral("list index out of bounds"), QStringLiteral("report"));
  Component.setMailsendreport(true);
  Component.ErrorMessageBySynTask(QString(), QStringLiteral("report"));
  Component.ErrorMessageBySynTask(QString(60, QLatin1Char('W')), QStringLiteral("report"));
  ASSERT_EQ(Seen.size(), 3);

  const TPromptSeen& First = Seen[0];
  EXPECT_EQ(First.Title, QStringLiteral("Error message"));
  EXPECT_EQ(First.Inst, QStringLiteral("An error has occured (click to view)"));
  EXPECT_EQ(First.Content, QStringLiteral("Details:\nlist index out of bounds"));
  EXPECT_EQ(First.Verify, QStringLiteral("Send the error report "));
  EXPECT_TRUE(First.VerifyChecked);
  EXPECT_EQ(First.Query, QString());
  EXPECT_EQ(First.Footer, QStringLiteral("Email will be sent by default Mail client\n"
                                         "(a copy is placed in the bugreport directory of this application)"));
  EXPECT_EQ(First.Buttons, QStringList{QStringLiteral("OK=1 default cancel")});
  EXPECT_FALSE(First.HasCloseBox);
  EXPECT_TRUE(First.HasImage);
  EXPECT_TRUE(First.HasSeparator);
  EXPECT_EQ(First.FooterImage, QSize(16, 16));
  EXPECT_EQ(First.Width, 420);

  // With mail configured the comment field starts with its prompt; an empty
  // message still has its line break.
  EXPECT_EQ(Seen[1].Query, QStringLiteral("Enter Comments:"));
  EXPECT_EQ(Seen[1].Content, QStringLiteral("Details:\n"));
  // A long message widens the prompt.
  EXPECT_EQ(Seen[2].Width, 480);
}

TEST(PromptExcerpt, AtMostItsCharactersAndLinesThenTheEllipsis)
{
  using Vesparo::PromptExcerpt;
  const QString Ellipsis = Vesparo::PromptExcerptEllipsis;
  const QString Fits(Vesparo::PromptExcerptCharacters, QLatin1Char('x'));
  EXPECT_EQ(PromptExcerpt(Fits), Fits);
  EXPECT_EQ(PromptExcerpt(Fits + QLatin1Char('y')), Fits + Ellipsis);
  EXPECT_EQ(PromptExcerpt(QString()), QString());

  // Every kind of line break counts, the dialog's two characters "\n" too.
  const QString ThirtyLines = QStringLiteral("line\n").repeated(Vesparo::PromptExcerptLines - 1) + QStringLiteral("last");
  EXPECT_EQ(PromptExcerpt(ThirtyLines), ThirtyLines);
  for (const QString& Break : {QStringLiteral("\n"), QStringLiteral("\r\n"), QStringLiteral("\r"), QStringLiteral("\\n")}) {
    const QString Many = QStringLiteral("a") + Break.repeated(50000);
    EXPECT_EQ(PromptExcerpt(Many), QStringLiteral("a") + Break.repeated(Vesparo::PromptExcerptLines - 1) + Ellipsis)
      << Break.toStdString();
  }
  // A character of two UTF-16 units is never cut in two.
  const QString Smiles = QStringLiteral("\U0001F600").repeated(Vesparo::PromptExcerptCharacters);
  const QString Cut = PromptExcerpt(Smiles);
  EXPECT_TRUE(Cut.endsWith(QStringLiteral("\U0001F600") + Ellipsis));
  EXPECT_LE(Cut.size(), Vesparo::PromptExcerptCharacters + Ellipsis.size());
}

TEST_F(Prompt, AHugeMessageShowsItsExcerptAndTheReportKeepsItWhole)
{
  // A message far beyond what a label can lay out, and one of line breaks
  // only: the prompt shows the excerpt and keeps its usual size.
  QList<TPromptSeen> Seen;
  QList<QSize> Sizes;
  TOnScreen Hook([&](QDialog& Dialog) {
    Seen << See(Dialog);
    Sizes << Dialog.size();
    ButtonWithResult(Dialog, 1)->click();
  });
  const QString Huge(30'000'000, QLatin1Char('x'));
  Component.ErrorMessageBySynTask(Huge, QStringLiteral("report"));
  Component.ErrorMessageBySynTask(QString(50000, QLatin1Char('\n')), QStringLiteral("report"));
  ASSERT_EQ(Seen.size(), 2);
  EXPECT_EQ(Seen[0].Content, QStringLiteral("Details:\n") + Vesparo::PromptExcerpt(Huge));
  EXPECT_EQ(Seen[1].Content.count(QLatin1Char('\n')), Vesparo::PromptExcerptLines);
  for (const QSize& Size : Sizes)
    EXPECT_LT(Size.height(), 1000);
}

TEST_F(Prompt, MailGoesOnlyWithTheBoxTickedAndMailConfigured)
{
  struct TCase {
    bool Mail, Ticked;
    int Mails;
  };
  for (const TCase Case : {TCase{true, true, 1}, TCase{true, false, 0}, TCase{false, true, 0}}) {
    Component.Mails.clear();
    Component.setMailsendreport(Case.Mail);
    TOnScreen Hook([&Case](QDialog& Dialog) {
      auto* Edit = Dialog.findChild<QLineEdit*>();
      Edit->setFocus();
      QTest::keyClick(Edit, Qt::Key_End);
      QTest::keyClicks(Edit, QStringLiteral("it broke"));
      Dialog.findChild<QCheckBox*>()->setChecked(Case.Ticked);
      ButtonWithResult(Dialog, 1)->click();
    });
    Component.ErrorMessageBySynTask(QStringLiteral("boom"), QStringLiteral("The Application information\r\nREPORT"));
    ASSERT_EQ(Component.Mails.size(), Case.Mails) << Case.Mail << Case.Ticked;
    const QString Comment = Case.Mail ? QStringLiteral("Enter Comments:it broke") : QStringLiteral("it broke");
    // Packed and copied in every case, the comment in the report.
    EXPECT_TRUE(ReadAll(ReportPath()).contains("\r\nComments by the User :" + Comment.toUtf8() + "\r\n"));
    EXPECT_TRUE(QFileInfo(Vesparoutil::sZipFileName).isFile());
    if (Case.Mails == 1) {
      EXPECT_EQ(Component.Mails[0].Attachment, Vesparoutil::sZipFileNameForMailing);
      EXPECT_FALSE(Component.Mails[0].Attachment.isEmpty());
      EXPECT_EQ(Component.Mails[0].Comment, Comment);
      EXPECT_EQ(Component.Mails[0].Report, QStringLiteral("The Application information\r\nREPORT"));
    }
  }
}

TEST_F(Prompt, EachClickOnTheTextsOpensAViewerThatStaysUsableAndOutlivesThePrompt)
{
  TestSupport::WriteAll(ReportPath(), ViewerTests::CrLfLines(ViewerTests::FullReport()));
  QList<QPointer<u_errorFileReader::TFrmErroReader>> Viewers;
  int PageAfterClick = -1;
  TOnScreen Hook([&](QDialog& Dialog) {
    auto* Inst = Dialog.findChild<QLabel*>(QStringLiteral("Inst"));
    QTest::mouseClick(Inst, Qt::LeftButton);
    Viewers << u_errorFileReader::FrmErroReader;
    QTest::mouseClick(Inst, Qt::LeftButton);
    Viewers << u_errorFileReader::FrmErroReader;
    QTest::mouseClick(Dialog.findChild<QLabel*>(QStringLiteral("Footer")), Qt::LeftButton);
    Viewers << u_errorFileReader::FrmErroReader;
    // The viewer takes the user's clicks while the modal prompt is up: a
    // click through the window system, where modality blocks windows.
    QTabBar* Tabs = Viewers[0]->PageControlApplicationInformation()->tabBar();
    QTest::mouseClick(Viewers[0]->windowHandle(), Qt::LeftButton, {},
                      Tabs->mapTo(Viewers[0], Tabs->tabRect(2).center()));
    PageAfterClick = Viewers[0]->PageControlApplicationInformation()->currentIndex();
    ButtonWithResult(Dialog, 1)->click();
  });
  Component.ErrorMessageBySynTask(QStringLiteral("look"), QStringLiteral("report"));

  ASSERT_EQ(Viewers.size(), 3);
  EXPECT_TRUE(Viewers[0] && Viewers[1] && Viewers[2]);
  EXPECT_NE(Viewers[0], Viewers[1]);
  EXPECT_EQ(u_errorFileReader::FrmErroReader, Viewers[2]);
  for (const auto& Viewer : Viewers) {
    ASSERT_TRUE(Viewer);
    EXPECT_TRUE(Viewer->isVisible());
    EXPECT_EQ(Viewer->FileName(), ReportPath());
    EXPECT_EQ(Viewer->parent(), nullptr);
  }
  EXPECT_EQ(PageAfterClick, 2);
  // Each opens as the viewer program's window does.
  for (const auto& Viewer : Viewers)
    ViewerTests::ExpectEachTextAtItsTopWithNothingSelected(*Viewer);

  // Each frees itself when closed.
  for (const auto& Viewer : Viewers)
    Viewer->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  for (const auto& Viewer : Viewers)
    EXPECT_TRUE(Viewer.isNull());
}

TEST_F(Prompt, APictureThatCannotBeSavedStillLetsTheMailGoThenIsRaised)
{
  Component.setMailsendreport(true);
  int Shown = 0;
  TOnScreen Hook([&Shown](QDialog& Dialog) {
    ++Shown;
    ButtonWithResult(Dialog, 1)->click();
  });
  {
    const TestSupport::TFileSizeLimit NoRoomForPictures(16 * 1024);
    EXPECT_THROW(Component.ErrorMessageBySynTask(QStringLiteral("no picture"), QStringLiteral("report")),
                 EInOutError);
  }
  EXPECT_EQ(Shown, 1);
  ASSERT_EQ(Component.Mails.size(), 1);
  EXPECT_EQ(Component.Mails[0].Attachment, Vesparoutil::sZipFileNameForMailing);
  EXPECT_TRUE(QFileInfo(Vesparoutil::sZipFileName).isFile());
  FormatSettings::Reset();
}
