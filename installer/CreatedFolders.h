#pragma once
// Folders an installation is about to make, noted before it makes them:
// after a failure those it made are removed again where they were left
// empty, with the empty folders it made below them. A folder that was
// there before is never removed.

#include <QString>
#include <QStringList>

namespace CreatedFolders {

class TCreatedFolders {
public:
  // Notes each of Folders that is missing now, with its missing parents.
  explicit TCreatedFolders(const QStringList& Folders);
  // Removes the noted folders that exist and hold nothing but empty
  // folders, innermost first.
  void RemoveEmpty() const;

private:
  QStringList FMissing;  // outermost first
};

}  // namespace CreatedFolders
