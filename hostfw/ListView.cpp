#include "hostfw/ListView.h"

#include <QHeaderView>

namespace ListView {

TImageList::TImageList(QObject* Parent) : QObject(Parent) {}

int TImageList::Count() const { return int(FIcons.size()); }

int TImageList::ReplaceIcon(int Index, const QIcon& Icon)
{
  if (Icon.isNull())
    return -1;
  if (Index == -1) {
    FIcons.append(Icon);
    Index = Count() - 1;
  } else if (Index >= 0 && Index < Count()) {
    FIcons[Index] = Icon;
  } else {
    return -1;
  }
  emit Changed();
  return Index;
}

QIcon TImageList::Icon(int Index) const { return FIcons.value(Index); }

void TImageList::Clear()
{
  FIcons.clear();
  emit Changed();
}

void TImageList::SetWidth(int Value)
{
  FWidth = qMax(1, Value);
  emit Changed();
}

TListItem::TListItem() : QTreeWidgetItem(QTreeWidgetItem::UserType) {}

QString TListItem::Caption() const { return text(0); }

void TListItem::SetCaption(const QString& Value) { setText(0, Value); }

QStringList TListItem::SubItems() const
{
  QStringList Result;
  for (int Column = 1; Column < columnCount(); ++Column)
    Result.append(text(Column));
  return Result;
}

void TListItem::AddSubItem(const QString& Value) { setText(qMax(1, columnCount()), Value); }

void TListItem::SetImageIndex(int Value)
{
  FImageIndex = Value;
  UpdateIcon();
}

TListView* TListItem::ListView() const { return qobject_cast<TListView*>(treeWidget()); }

void TListItem::UpdateIcon()
{
  const TListView* View = ListView();
  const TImageList* Images = View ? View->SmallImages() : nullptr;
  setIcon(0, Images ? Images->Icon(FImageIndex) : QIcon());
}

TListView::TListView(QWidget* Parent) : QTreeWidget(Parent)
{
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  SetRowSelect(true);
}

void TListView::SetColumns(const QStringList& Captions)
{
  setColumnCount(int(Captions.size()));
  setHeaderLabels(Captions);
}

QStringList TListView::Columns() const
{
  QStringList Result;
  const QTreeWidgetItem* Header = headerItem();
  for (int Column = 0; Column < columnCount(); ++Column)
    Result.append(Header ? Header->text(Column) : QString());
  return Result;
}

TListItem* TListView::AddItem()
{
  auto* Item = new TListItem;
  addTopLevelItem(Item);
  return Item;
}

int TListView::ItemCount() const { return topLevelItemCount(); }

TListItem* TListView::Item(int Index) const
{
  // Items of this view are ours, but a form description may hold plain ones.
  return dynamic_cast<TListItem*>(topLevelItem(Index));
}

TListItem* TListView::Selected() const
{
  const QList<QTreeWidgetItem*> Items = selectedItems();
  return Items.isEmpty() ? nullptr : dynamic_cast<TListItem*>(Items.first());
}

void TListView::SetSelected(TListItem* Item)
{
  clearSelection();
  if (Item && Item->treeWidget() == this) {
    Item->setSelected(true);
    setCurrentItem(Item);
  }
}

bool TListView::RowSelect() const { return selectionBehavior() == QAbstractItemView::SelectRows; }

void TListView::SetRowSelect(bool Value)
{
  setSelectionBehavior(Value ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
  setAllColumnsShowFocus(Value);
}

void TListView::SetSmallImages(TImageList* Images)
{
  disconnect(FImagesChanged);
  disconnect(FImagesDestroyed);
  FSmallImages = Images;
  if (Images) {
    FImagesChanged = connect(Images, &TImageList::Changed, this, [this] { UpdateIcons(); });
    FImagesDestroyed = connect(Images, &QObject::destroyed, this, [this] {
      FSmallImages = nullptr;
      UpdateIcons();
    });
  }
  UpdateIcons();
}

void TListView::UpdateIcons()
{
  if (FSmallImages) {
    const int Edge = FSmallImages->Width();
    setIconSize(QSize(Edge, Edge));
  }
  for (int I = 0; I < ItemCount(); ++I) {
    if (TListItem* Each = Item(I))
      Each->UpdateIcon();
  }
}

}  // namespace ListView
