#pragma once
// A new file written under a temporary name beside its final place and moved
// there only once it is whole, never over an existing file: a reader sees
// the whole file or none, a full disk or a kill leaves no broken file under
// the final name, and nothing earlier is overwritten.

#include <QFile>
#include <QString>

namespace TempFile {

class TTempFile {
public:
  // Creates the file, empty and open for writing, in Folder as a hidden
  // name made of Name and a random suffix. Raises EInOutError when it
  // cannot be created. Errors name Folder + "/" + Name, the file the user
  // knows of.
  TTempFile(const QString& Folder, const QString& Name);
  // Removes the file unless it was placed.
  ~TTempFile();
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  const QString& Path() const { return FPath; }
  QFile& File() { return FFile; }

  // Writes it out to the disk and closes it; raises EInOutError. Placing
  // does this first when it has not been done.
  void Finish();
  // Moves the finished file to Target unless something is there already:
  // false then, and the file stays where it is for another try. Raises
  // EInOutError on any other failure.
  bool PlaceNew(const QString& Target);
  // Places it at the first free one of Path, then Path numbered 2, 3, ...
  // (NumberedName); returns the path it took.
  QString PlaceNumbered(const QString& Path);

private:
  QString FShownName;
  QString FPath;
  QFile FFile;
  bool FFinished = false;
  bool FPlaced = false;
};

// Path with "_" + Number before the extension of its file name (or at its
// end when the name has none); Path itself for Number 1 and below.
QString NumberedName(const QString& Path, int Number);

// Numbers tried before a name counts as unobtainable.
inline constexpr int MaxNumber = 100000;

}  // namespace TempFile
