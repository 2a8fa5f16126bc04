#include "installer/CreatedFolders.h"

#include <QDir>
#include <QFileInfo>

namespace CreatedFolders {

namespace {

// rmdir only takes an empty folder, so whatever another program put into
// one meanwhile stays; links are not followed.
void RemoveEmptyTree(const QString& Folder)
{
  const QFileInfo Info(Folder);
  if (!Info.isDir() || Info.isSymLink())
    return;
  const QDir Dir(Folder);
  for (const QString& Name : Dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks))
    RemoveEmptyTree(Dir.filePath(Name));
  QDir().rmdir(Folder);
}

}  // namespace

TCreatedFolders::TCreatedFolders(const QStringList& Folders)
{
  for (const QString& Folder : Folders) {
    QStringList Chain;
    for (QString Path = QDir::cleanPath(QFileInfo(Folder).absoluteFilePath());
         !QFileInfo::exists(Path) && !Chain.contains(Path); Path = QFileInfo(Path).path())
      Chain.prepend(Path);
    for (const QString& Path : Chain)
      if (!FMissing.contains(Path))
        FMissing.append(Path);
  }
}

void TCreatedFolders::RemoveEmpty() const
{
  for (auto Folder = FMissing.crbegin(); Folder != FMissing.crend(); ++Folder)
    RemoveEmptyTree(*Folder);
}

}  // namespace CreatedFolders
