#pragma once
// Anchors, as the runtime's controls have them: a control anchored to an edge
// of its parent keeps its distance from that edge when the parent is
// resized; anchored to both opposite edges it stretches.
//
// A stored form gives a control its anchors as the dynamic property
// "Anchors", a list such as "akLeft,akTop,akRight,akBottom". The distances
// are those of the stored layout: the control's stored geometry within its
// parent's stored size, which is the parent's geometry, or, for a parent that
// some layout sizes later (a page of a page control), its dynamic property
// "DesignClientSize".

#include <QObject>
#include <QRect>
#include <QSize>

class QWidget;

namespace Anchors {

enum TAnchorKind : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = unsigned;

// "akLeft,akTop" to flags; unknown names are ignored.
TAnchors ParseAnchors(const QString& Text);

// Installs the anchors of every control below Root that carries the
// property; call once the stored geometry has been applied.
void ApplyStoredAnchors(QWidget* Root);

// Anchors one control to its parent, whose stored size is DesignParentSize.
void SetAnchors(QWidget* Control, TAnchors Anchors, QSize DesignParentSize);

// Keeps one control in place; lives as a child of the control.
class TAnchorKeeper : public QObject {
  Q_OBJECT
public:
  TAnchorKeeper(QWidget* Control, TAnchors Anchors, QSize DesignParentSize);

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void Follow(QSize ParentSize);

  QWidget* FControl;
  TAnchors FAnchors;
  QRect FDesignRect;
  QSize FDesignParentSize;
};

}  // namespace Anchors
