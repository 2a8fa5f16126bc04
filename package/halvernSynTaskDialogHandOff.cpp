// The report hand-off of the package's task dialog: its texts open the
// report in a viewer window, its buttons photograph it, and once it has
// closed the comment goes into the report, which is then packed and copied.
// Editions without it (the installer's) leave this source out.

#include "package/halvernSynTaskDialogInternal.h"

#include "hostfw/Exceptions.h"
#include "hostfw/TextFile.h"
#include "package/Edition.h"
#include "package/HmldFormat.h"
#include "package/PackageLog.h"
#include "package/Vesparoutil.h"
#include "package/u_errorFileReader.h"

#include <QWidget>
#include <QWindow>

static_assert(Edition::ReportHandOff, "an edition without the report hand-off leaves this source out");

namespace halvernSynTaskDialog {

void TTaskDialog::WriteCommentsZipAndImageNameToFile(const QString& Comments, const QString& ImagePath,
                                                     const QString& ZipPath)
{
  Vesparoutil::ForceDataFolder(Vesparoutil::DataFolderPath());
  TextFile::TTextFile Report(Vesparoutil::FullHmldFilePath());
  Report.Append();
  for (const QString& Line : HmldFormat::CommentBlockLines(Comments, ImagePath, ZipPath))
    Report.WriteLn(Line);
  Report.Close();
}

void TTaskDialog::ButtonClick(QObject*)
{
  // Taken here, while the dialog is the foreground window. A failure must
  // neither keep the dialog open nor escape into the modal loop, where it
  // would start another report from inside this one.
  try {
    Vesparoutil::TakeScreenShotAndSaveInapplicationFolder();
  } catch (...) {
    if (!ClickFailure)
      ClickFailure = std::current_exception();
    else
      qCWarning(PackageLog).noquote() << "the prompt's picture could not be taken again:"
                                      << Exceptions::MessageOf(std::current_exception());
  }
}

void TTaskDialog::Label1Click(QObject* Sender)
{
  auto* Viewer = new u_errorFileReader::TFrmErroReader(nullptr, Vesparoutil::FullHmldFilePath());
  u_errorFileReader::FrmErroReader = Viewer;
  // The viewer belongs to no owner, but it stays usable beside the modal
  // dialog it was opened from, and outlives it.
  if (auto* Widget = qobject_cast<QWidget*>(Sender)) {
    Viewer->winId();
    if (QWindow* Dialog = Widget->window()->windowHandle())
      Viewer->windowHandle()->setTransientParent(Dialog);
  }
  Viewer->show();
}

void HandOnReport(TTaskDialog& Task, const QString& Comment)
{
  TTaskDialog::WriteCommentsZipAndImageNameToFile(Comment, Vesparoutil::sJpegFileName, Vesparoutil::sZipFileName);
  // An archive or copy that cannot be written is told once the rest is
  // done; no archive, no copy.
  try {
    const QString Archive = Vesparoutil::SynZipZipper(Vesparoutil::sZipFileName, Vesparoutil::sJpegFileName);
    if (!Archive.isEmpty()) {
      Vesparoutil::sZipFileName = Vesparoutil::sZipFileNameForMailing = Archive;
      Vesparoutil::CopybugReportToDirectory(Archive);
    }
  } catch (...) {
    Task.PackingFailure = std::current_exception();
  }
}

}  // namespace halvernSynTaskDialog
