#pragma once
// The task dialog of the error prompt. So far it holds the comment writer
// that completes the report once the prompt has closed.

#include <QString>

namespace halvernSynTaskDialog {

struct TTaskDialog {
  // Appends the comment block (the user's comment, the picture's and the
  // archive's paths) to the report file of the running application; the
  // data folder is created when missing. The report must exist: a file that
  // cannot be opened for appending raises EInOutError. Uses no field of the
  // record.
  static void WriteCommentsZipAndImageNameToFile(const QString& Comments, const QString& ImagePath,
                                                 const QString& ZipPath);
};

}  // namespace halvernSynTaskDialog
