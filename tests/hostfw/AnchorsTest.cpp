#include "hostfw/Anchors.h"

#include <QVariant>
#include <QWidget>

#include <gtest/gtest.h>

using namespace Anchors;

TEST(Anchors, ControlsFollowTheEdgesTheyAreAnchoredTo)
{
  EXPECT_EQ(ParseAnchors(QStringLiteral("akLeft,akTop, akRight|akBottom")), akLeft | akTop | akRight | akBottom);
  EXPECT_EQ(ParseAnchors(QStringLiteral("akTop,bogus")), akTop);

  QWidget Parent;
  Parent.resize(400, 300);
  QWidget All(&Parent), TopBar(&Parent), RightBottom(&Parent), Page(&Parent);
  All.setGeometry(10, 50, 380, 240);
  TopBar.setGeometry(0, 0, 400, 41);
  RightBottom.setGeometry(300, 250, 80, 30);
  All.setProperty("Anchors", QStringLiteral("akLeft,akTop,akRight,akBottom"));
  TopBar.setProperty("Anchors", QStringLiteral("akLeft,akTop,akRight"));
  RightBottom.setProperty("Anchors", QStringLiteral("akRight,akBottom"));
  // A parent sized later by a layout carries its stored size.
  Page.setProperty("DesignClientSize", QSize(200, 100));
  QWidget Inner(&Page);
  Inner.setGeometry(12, 24, 180, 60);
  Inner.setProperty("Anchors", QStringLiteral("akLeft,akTop,akRight,akBottom"));
  ApplyStoredAnchors(&Parent);

  Parent.resize(500, 350);
  Parent.show();
  EXPECT_EQ(All.geometry(), QRect(10, 50, 480, 290));
  EXPECT_EQ(TopBar.geometry(), QRect(0, 0, 500, 41));
  EXPECT_EQ(RightBottom.geometry(), QRect(400, 300, 80, 30));

  Page.setGeometry(0, 0, 250, 120);
  EXPECT_EQ(Inner.geometry(), QRect(12, 24, 230, 80));

  // Smaller than the design: the distances stay, the size gives way.
  Parent.resize(300, 200);
  EXPECT_EQ(All.geometry(), QRect(10, 50, 280, 140));
  EXPECT_EQ(TopBar.height(), 41);
}
