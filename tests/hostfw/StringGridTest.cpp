#include "hostfw/StringGrid.h"

#include <QHeaderView>

#include <gtest/gtest.h>

using StringGrid::TStringGrid;

TEST(StringGrid, RowZeroIsTheHeaderAndRowCountCountsIt)
{
  TStringGrid Grid;
  Grid.setColCount(3);
  Grid.setRowCount(3);
  Grid.SetCells(0, 0, QStringLiteral("ID"));
  Grid.SetCells(2, 0, QStringLiteral("Memory"));
  Grid.SetCells(1, 2, QStringLiteral("second row"));

  QAbstractItemModel* Model = Grid.model();
  EXPECT_EQ(Model->rowCount(), 2);
  EXPECT_EQ(Model->columnCount(), 3);
  EXPECT_EQ(Model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("ID"));
  EXPECT_EQ(Model->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Memory"));
  EXPECT_EQ(Model->data(Model->index(1, 1)).toString(), QStringLiteral("second row"));
  EXPECT_EQ(Model->data(Model->index(0, 1)).toString(), QString());
  EXPECT_EQ(Grid.Cells(1, 2), QStringLiteral("second row"));
}

TEST(StringGrid, ChangingTheRowCountKeepsCellsInPlace)
{
  TStringGrid Grid;
  Grid.setColCount(2);
  Grid.setRowCount(2);
  Grid.SetCells(0, 1, QStringLiteral("a"));
  Grid.setRowCount(Grid.RowCount() + 10);
  EXPECT_EQ(Grid.RowCount(), 12);
  Grid.SetCells(1, 11, QStringLiteral("z"));
  EXPECT_EQ(Grid.Cells(0, 1), QStringLiteral("a"));
  EXPECT_EQ(Grid.model()->data(Grid.model()->index(10, 1)).toString(), QStringLiteral("z"));

  // Shrinking drops the rows at the end for good; growing again shows them empty.
  Grid.setRowCount(5);
  EXPECT_EQ(Grid.model()->rowCount(), 4);
  EXPECT_EQ(Grid.Cells(1, 11), QString());
  Grid.setRowCount(12);
  EXPECT_EQ(Grid.Cells(1, 11), QString());
  EXPECT_EQ(Grid.Cells(0, 1), QStringLiteral("a"));

  // The header row always stays.
  Grid.setRowCount(0);
  EXPECT_EQ(Grid.RowCount(), 1);
  EXPECT_EQ(Grid.model()->rowCount(), 0);
}

TEST(StringGrid, CellsOutsideTheGridReadEmptyAndCannotBeWritten)
{
  TStringGrid Grid;
  Grid.setColCount(5);
  Grid.setRowCount(2);
  EXPECT_EQ(Grid.Cells(0, 2), QString());
  EXPECT_EQ(Grid.Cells(5, 1), QString());
  EXPECT_EQ(Grid.Cells(-1, 0), QString());
  EXPECT_THROW(Grid.SetCells(0, 2, QStringLiteral("x")), EInvalidGridOperation);
  EXPECT_THROW(Grid.SetCells(5, 0, QStringLiteral("x")), EInvalidGridOperation);
  EXPECT_THROW(Grid.SetCells(0, -1, QStringLiteral("x")), EInvalidGridOperation);
  EXPECT_EQ(Grid.Cells(0, 2), QString());
}

TEST(StringGrid, ColumnsWidthsColoursAndSizing)
{
  TStringGrid Grid;
  Grid.setColCount(5);
  Grid.setColWidths(QStringLiteral("75,228,177,224,166"));
  EXPECT_EQ(Grid.ColWidth(0), 75);
  EXPECT_EQ(Grid.ColWidth(4), 166);
  EXPECT_EQ(Grid.ColWidths(), QStringLiteral("75,228,177,224,166"));

  Grid.setFixedColor(QColor(192, 220, 192));
  EXPECT_EQ(Grid.model()->headerData(3, Qt::Horizontal, Qt::BackgroundRole).value<QBrush>().color(),
            QColor(192, 220, 192));
  Grid.setColor(QColor(240, 240, 240));
  EXPECT_EQ(Grid.palette().color(QPalette::Base), QColor(240, 240, 240));

  Grid.setColSizing(true);
  Grid.setRowSizing(true);
  EXPECT_EQ(Grid.horizontalHeader()->sectionResizeMode(2), QHeaderView::Interactive);
  EXPECT_EQ(Grid.verticalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
  // Shrinking the columns cuts the cells of the dropped ones.
  Grid.setRowCount(2);
  Grid.SetCells(4, 1, QStringLiteral("gone"));
  Grid.setColCount(4);
  Grid.setColCount(5);
  EXPECT_EQ(Grid.Cells(4, 1), QString());
}
