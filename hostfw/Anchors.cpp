#include "hostfw/Anchors.h"

#include <QEvent>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace Anchors {

namespace {
const char* const AnchorsProperty = "Anchors";
const char* const DesignClientSizeProperty = "DesignClientSize";
}  // namespace

TAnchors ParseAnchors(const QString& Text)
{
  TAnchors Result = 0;
  for (const QString& Part : Text.split(QRegularExpression(QStringLiteral("[,|\\s]+")), Qt::SkipEmptyParts)) {
    if (Part == QLatin1String("akLeft"))
      Result |= akLeft;
    else if (Part == QLatin1String("akTop"))
      Result |= akTop;
    else if (Part == QLatin1String("akRight"))
      Result |= akRight;
    else if (Part == QLatin1String("akBottom"))
      Result |= akBottom;
  }
  return Result;
}

void ApplyStoredAnchors(QWidget* Root)
{
  for (QWidget* Control : Root->findChildren<QWidget*>()) {
    const QVariant Stored = Control->property(AnchorsProperty);
    if (!Stored.isValid() || !Control->parentWidget())
      continue;
    QWidget* Parent = Control->parentWidget();
    const QVariant ParentSize = Parent->property(DesignClientSizeProperty);
    SetAnchors(Control, ParseAnchors(Stored.toString()),
               ParentSize.isValid() ? ParentSize.toSize() : Parent->size());
  }
}

void SetAnchors(QWidget* Control, TAnchors Anchors, QSize DesignParentSize)
{
  for (TAnchorKeeper* Old : Control->findChildren<TAnchorKeeper*>(Qt::FindDirectChildrenOnly))
    delete Old;
  new TAnchorKeeper(Control, Anchors, DesignParentSize);
}

TAnchorKeeper::TAnchorKeeper(QWidget* Control, TAnchors Anchors, QSize DesignParentSize)
  : QObject(Control), FControl(Control), FAnchors(Anchors), FDesignRect(Control->geometry()),
    FDesignParentSize(DesignParentSize)
{
  if (QWidget* Parent = Control->parentWidget()) {
    Parent->installEventFilter(this);
    // A parent already laid out at another size places the control now.
    if (Parent->testAttribute(Qt::WA_Resized) && Parent->size() != FDesignParentSize)
      Follow(Parent->size());
  }
}

bool TAnchorKeeper::eventFilter(QObject* Watched, QEvent* Event)
{
  if (Event->type() == QEvent::Resize && Watched == FControl->parentWidget())
    Follow(static_cast<QResizeEvent*>(Event)->size());
  return false;
}

void TAnchorKeeper::Follow(QSize ParentSize)
{
  const int DX = ParentSize.width() - FDesignParentSize.width();
  const int DY = ParentSize.height() - FDesignParentSize.height();
  QRect Rect = FDesignRect;
  // Horizontally: both edges stretch; the right edge alone moves; neither
  // keeps the control's centre where it was relative to the parent.
  if ((FAnchors & akLeft) && (FAnchors & akRight))
    Rect.setWidth(FDesignRect.width() + DX);
  else if (FAnchors & akRight)
    Rect.moveLeft(FDesignRect.left() + DX);
  else if (!(FAnchors & akLeft))
    Rect.moveLeft(FDesignRect.left() + DX / 2);
  if ((FAnchors & akTop) && (FAnchors & akBottom))
    Rect.setHeight(FDesignRect.height() + DY);
  else if (FAnchors & akBottom)
    Rect.moveTop(FDesignRect.top() + DY);
  else if (!(FAnchors & akTop))
    Rect.moveTop(FDesignRect.top() + DY / 2);
  Rect.setWidth(std::max(0, Rect.width()));
  Rect.setHeight(std::max(0, Rect.height()));
  FControl->setGeometry(Rect);
}

}  // namespace Anchors
