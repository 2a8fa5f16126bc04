#pragma once
// The runtime's list view in report style and its image list, for what the
// installer needs of them: items with a caption, sub-items and an image
// index; columns with captions; whole-row selection; an image list of small
// icons that ReplaceIcon(-1, ...) appends to.
//
// TListView is a QTreeWidget, so that a form description can promote a tree
// widget to it and give its columns there. Column 0 shows the caption and
// the item's icon, columns 1, 2, ... the sub-items.

#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTreeWidget>
#include <QTreeWidgetItem>

namespace ListView {

class TImageList : public QObject {
  Q_OBJECT

public:
  explicit TImageList(QObject* Parent = nullptr);

  int Count() const;
  // Index -1 appends Icon; any index of the list replaces the icon there.
  // Returns the index the icon took, or -1 for a null icon or an index
  // outside the list (nothing changes then).
  int ReplaceIcon(int Index, const QIcon& Icon);
  // A null icon for an index outside the list.
  QIcon Icon(int Index) const;
  void Clear();

  // Edge of the square the icons are drawn in.
  int Width() const { return FWidth; }
  void SetWidth(int Value);

signals:
  void Changed();

private:
  QList<QIcon> FIcons;
  int FWidth = 16;
};

class TListView;

class TListItem : public QTreeWidgetItem {
public:
  TListItem();

  QString Caption() const;
  void SetCaption(const QString& Value);
  // Texts of columns 1, 2, ...
  QStringList SubItems() const;
  void AddSubItem(const QString& Value);
  // Position of the item's icon in the list view's SmallImages; -1 = none.
  int ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int Value);

  TListView* ListView() const;
  // Takes the icon of ImageIndex from the list view's images again.
  void UpdateIcon();

private:
  int FImageIndex = -1;
};

class TListView : public QTreeWidget {
  Q_OBJECT
  // Whole-row selection (the default) or the caption cell only.
  Q_PROPERTY(bool RowSelect READ RowSelect WRITE SetRowSelect)

public:
  explicit TListView(QWidget* Parent = nullptr);

  // Sets the captions of the columns; their number follows.
  void SetColumns(const QStringList& Captions);
  QStringList Columns() const;

  // Items.Add: a new item at the end, owned by the view.
  TListItem* AddItem();
  int ItemCount() const;
  // Nullptr for an index outside the list or an item not made by AddItem.
  TListItem* Item(int Index) const;
  // The selected item, nullptr when none is.
  TListItem* Selected() const;
  void SetSelected(TListItem* Item);

  bool RowSelect() const;
  void SetRowSelect(bool Value);

  // Icons for the items' image indices; not owned. Items follow changes of
  // the list.
  TImageList* SmallImages() const { return FSmallImages; }
  void SetSmallImages(TImageList* Images);

private:
  void UpdateIcons();

  TImageList* FSmallImages = nullptr;
  QMetaObject::Connection FImagesChanged;
  QMetaObject::Connection FImagesDestroyed;
};

}  // namespace ListView
