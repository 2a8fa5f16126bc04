#pragma once
// The sandbox IDE's window: its Known Packages, and a button that opens the
// form designer with their components in the widget box.

#include "tools/sandbox-ide/IdeTable.h"
#include "tools/sandbox-ide/KnownPackages.h"

#include <QWidget>

class QPushButton;
class QTreeWidget;

class TIdeWindow : public QWidget {
  Q_OBJECT
public:
  explicit TIdeWindow(const IdeTable::TIde& Ide, QWidget* Parent = nullptr);

  QTreeWidget* PackageList() const { return FList; }
  QPushButton* DesignerButton() const { return FDesigner; }

  // The folder handed to the designer as a plugin path: its designer/
  // sub-folder holds a copy of every package that brings components, under
  // a name the designer takes for a plugin. Empty on failure.
  QString PrepareDesignerPlugins() const;
  // Starts the designer ($CORVANE_DESIGNER, else Qt's own) on them.
  bool OpenDesigner();

private:
  IdeTable::TIde FIde;
  QList<KnownPackages::TKnownPackage> FPackages;
  QTreeWidget* FList;
  QPushButton* FDesigner;
};
