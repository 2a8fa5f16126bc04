#include "package/halvernSynTaskDialog.h"

#include "hostfw/TextFile.h"
#include "package/HmldFormat.h"
#include "package/Vesparoutil.h"

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

}  // namespace halvernSynTaskDialog
