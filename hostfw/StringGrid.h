#pragma once
// The runtime's string grid, for what the system needs of it: a grid of text
// cells addressed by column and row, with one fixed header row (row 0) that
// does not scroll, RowCount and ColCount that can be set at any time, column
// widths, a cell colour and a header colour.
//
// Row 0 is shown as the horizontal header of a QTableView; rows 1 to
// RowCount - 1 are the view's rows. Changing RowCount never moves cells:
// growing adds empty rows at the end, shrinking drops the rows at the end.
// Rows are stored only once a cell in them has been written, so a grid whose
// row count runs far ahead of its content costs next to nothing.

#include "hostfw/Exceptions.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <QStringList>
#include <QTableView>

#include <vector>

// A cell or size outside what the grid allows.
class EInvalidGridOperation : public Exception {
public:
  using Exception::Exception;
};

namespace StringGrid {

class TStringGridModel;

class TStringGrid : public QTableView {
  Q_OBJECT
  Q_PROPERTY(int RowCount READ RowCount WRITE setRowCount)
  Q_PROPERTY(int ColCount READ ColCount WRITE setColCount)
  // Comma-separated widths in pixels, one per column from column 0.
  Q_PROPERTY(QString ColWidths READ ColWidths WRITE setColWidths)
  Q_PROPERTY(QColor Color READ Color WRITE setColor)
  Q_PROPERTY(QColor FixedColor READ FixedColor WRITE setFixedColor)
  // The user may drag row heights and column widths.
  Q_PROPERTY(bool RowSizing READ RowSizing WRITE setRowSizing)
  Q_PROPERTY(bool ColSizing READ ColSizing WRITE setColSizing)

public:
  explicit TStringGrid(QWidget* Parent = nullptr);
  ~TStringGrid() override;

  int RowCount() const;
  // At least 1 (the header row).
  void setRowCount(int Value);
  int ColCount() const;
  // At least 1.
  void setColCount(int Value);

  // "" for a cell outside the grid.
  QString Cells(int ACol, int ARow) const;
  // Raises EInvalidGridOperation for a cell outside the grid.
  void SetCells(int ACol, int ARow, const QString& Value);

  int ColWidth(int ACol) const;
  void SetColWidth(int ACol, int Width);
  QString ColWidths() const;
  void setColWidths(const QString& Widths);

  QColor Color() const { return FColor; }
  void setColor(const QColor& Value);
  QColor FixedColor() const;
  void setFixedColor(const QColor& Value);
  bool RowSizing() const { return FRowSizing; }
  void setRowSizing(bool Value);
  bool ColSizing() const { return FColSizing; }
  void setColSizing(bool Value);

private:
  TStringGridModel* FModel;
  QColor FColor;
  bool FRowSizing = false;
  bool FColSizing = false;
};

// The grid's content as the view sees it: header = row 0.
class TStringGridModel : public QAbstractTableModel {
  Q_OBJECT
public:
  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;

  int GridRowCount() const { return FRowCount; }
  void SetGridRowCount(int Value);
  int GridColCount() const { return FColCount; }
  void SetGridColCount(int Value);
  QString Cell(int ACol, int ARow) const;
  void SetCell(int ACol, int ARow, const QString& Value);
  QColor FixedColor() const { return FFixedColor; }
  void SetFixedColor(const QColor& Value);

private:
  int FRowCount = 5;
  int FColCount = 5;
  // Rows written so far, from row 0; shorter rows read as empty beyond.
  std::vector<QStringList> FRows;
  QColor FFixedColor;
};

}  // namespace StringGrid
