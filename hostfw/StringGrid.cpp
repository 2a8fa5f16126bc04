#include "hostfw/StringGrid.h"

#include <QBrush>
#include <QHeaderView>
#include <QPalette>

#include <algorithm>

namespace StringGrid {

namespace {
QString IndexError() { return QStringLiteral("Grid index out of range"); }
}  // namespace

// The model --------------------------------------------------------------

int TStringGridModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : FRowCount - 1; }

int TStringGridModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : FColCount; }

QVariant TStringGridModel::data(const QModelIndex& Index, int Role) const
{
  if (Role != Qt::DisplayRole || !Index.isValid())
    return {};
  return Cell(Index.column(), Index.row() + 1);
}

QVariant TStringGridModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
  if (Orientation == Qt::Vertical)
    return Role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
  if (Role == Qt::DisplayRole)
    return Cell(Section, 0);
  if (Role == Qt::BackgroundRole && FFixedColor.isValid())
    return QBrush(FFixedColor);
  return {};
}

void TStringGridModel::SetGridRowCount(int Value)
{
  Value = std::max(Value, 1);
  if (Value == FRowCount)
    return;
  if (Value > FRowCount) {
    beginInsertRows(QModelIndex(), FRowCount - 1, Value - 2);
    FRowCount = Value;
    endInsertRows();
  } else {
    beginRemoveRows(QModelIndex(), Value - 1, FRowCount - 2);
    FRowCount = Value;
    if (FRows.size() > static_cast<size_t>(Value))
      FRows.resize(static_cast<size_t>(Value));
    endRemoveRows();
  }
}

void TStringGridModel::SetGridColCount(int Value)
{
  Value = std::max(Value, 1);
  if (Value == FColCount)
    return;
  if (Value > FColCount) {
    beginInsertColumns(QModelIndex(), FColCount, Value - 1);
    FColCount = Value;
    endInsertColumns();
  } else {
    beginRemoveColumns(QModelIndex(), Value, FColCount - 1);
    FColCount = Value;
    for (QStringList& Row : FRows)
      if (Row.size() > Value)
        Row.resize(Value);
    endRemoveColumns();
  }
}

QString TStringGridModel::Cell(int ACol, int ARow) const
{
  if (ACol < 0 || ARow < 0 || ACol >= FColCount || static_cast<size_t>(ARow) >= FRows.size())
    return {};
  const QStringList& Row = FRows[static_cast<size_t>(ARow)];
  return ACol < Row.size() ? Row[ACol] : QString();
}

void TStringGridModel::SetCell(int ACol, int ARow, const QString& Value)
{
  if (ACol < 0 || ARow < 0 || ACol >= FColCount || ARow >= FRowCount)
    throw EInvalidGridOperation(IndexError());
  if (FRows.size() <= static_cast<size_t>(ARow))
    FRows.resize(static_cast<size_t>(ARow) + 1);
  QStringList& Row = FRows[static_cast<size_t>(ARow)];
  if (Row.size() <= ACol)
    Row.resize(ACol + 1);
  Row[ACol] = Value;
  if (ARow == 0)
    emit headerDataChanged(Qt::Horizontal, ACol, ACol);
  else
    emit dataChanged(index(ARow - 1, ACol), index(ARow - 1, ACol), {Qt::DisplayRole});
}

void TStringGridModel::SetFixedColor(const QColor& Value)
{
  FFixedColor = Value;
  emit headerDataChanged(Qt::Horizontal, 0, FColCount - 1);
}

// The view ---------------------------------------------------------------

TStringGrid::TStringGrid(QWidget* Parent)
  : QTableView(Parent), FModel(new TStringGridModel(this))
{
  setModel(FModel);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setShowGrid(true);
  setWordWrap(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  verticalHeader()->setHighlightSections(false);
  verticalHeader()->setSectionsClickable(false);
  setRowSizing(false);
  setColSizing(false);
}

TStringGrid::~TStringGrid() = default;

int TStringGrid::RowCount() const { return FModel->GridRowCount(); }
void TStringGrid::setRowCount(int Value) { FModel->SetGridRowCount(Value); }
int TStringGrid::ColCount() const { return FModel->GridColCount(); }
void TStringGrid::setColCount(int Value) { FModel->SetGridColCount(Value); }

QString TStringGrid::Cells(int ACol, int ARow) const { return FModel->Cell(ACol, ARow); }
void TStringGrid::SetCells(int ACol, int ARow, const QString& Value) { FModel->SetCell(ACol, ARow, Value); }

int TStringGrid::ColWidth(int ACol) const { return horizontalHeader()->sectionSize(ACol); }

void TStringGrid::SetColWidth(int ACol, int Width)
{
  if (ACol < 0 || ACol >= ColCount())
    throw EInvalidGridOperation(IndexError());
  horizontalHeader()->resizeSection(ACol, Width);
}

QString TStringGrid::ColWidths() const
{
  QStringList Widths;
  for (int I = 0; I < ColCount(); ++I)
    Widths << QString::number(ColWidth(I));
  return Widths.join(QLatin1Char(','));
}

void TStringGrid::setColWidths(const QString& Widths)
{
  const QStringList Parts = Widths.split(QLatin1Char(','), Qt::SkipEmptyParts);
  for (int I = 0; I < Parts.size() && I < ColCount(); ++I) {
    bool Ok = false;
    const int Width = Parts[I].trimmed().toInt(&Ok);
    if (Ok && Width >= 0)
      SetColWidth(I, Width);
  }
}

void TStringGrid::setColor(const QColor& Value)
{
  FColor = Value;
  QPalette Palette = palette();
  Palette.setColor(QPalette::Base, Value);
  setPalette(Palette);
}

QColor TStringGrid::FixedColor() const { return FModel->FixedColor(); }
void TStringGrid::setFixedColor(const QColor& Value) { FModel->SetFixedColor(Value); }

void TStringGrid::setRowSizing(bool Value)
{
  FRowSizing = Value;
  // Rows are dragged at their edge in the narrow grip column at the left.
  verticalHeader()->setVisible(Value);
  verticalHeader()->setSectionResizeMode(Value ? QHeaderView::Interactive : QHeaderView::Fixed);
}

void TStringGrid::setColSizing(bool Value)
{
  FColSizing = Value;
  horizontalHeader()->setSectionResizeMode(Value ? QHeaderView::Interactive : QHeaderView::Fixed);
}

}  // namespace StringGrid
