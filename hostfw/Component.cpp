#include "hostfw/Component.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPainter>

namespace Component {

namespace {
// One event type for the deferred notification, registered once per process.
QEvent::Type LoadedEventType()
{
  static const auto Type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return Type;
}
}  // namespace

TComponent::TComponent(QWidget* AOwner) : QWidget(AOwner)
{
  setAttribute(Qt::WA_DontShowOnScreen);
  QWidget::setVisible(false);
  QCoreApplication::postEvent(this, new QEvent(LoadedEventType()));
}

TComponent::~TComponent() = default;

void TComponent::LoadedNow()
{
  if (FLoaded)
    return;
  FLoaded = true;
  Loaded();
}

void TComponent::Loaded() {}

void TComponent::SetDesigning(bool Designing)
{
  FDesigning = Designing;
  setAttribute(Qt::WA_DontShowOnScreen, !Designing);
  QWidget::setVisible(Designing);
}

void TComponent::setVisible(bool Visible) { QWidget::setVisible(FDesigning && Visible); }

QSize TComponent::sizeHint() const { return FDesigning ? QSize(32, 32) : QSize(0, 0); }

bool TComponent::event(QEvent* Event)
{
  if (Event->type() == LoadedEventType()) {
    LoadedNow();
    return true;
  }
  return QWidget::event(Event);
}

void TComponent::paintEvent(QPaintEvent* Event)
{
  if (!FDesigning) {
    QWidget::paintEvent(Event);
    return;
  }
  QPainter Painter(this);
  Painter.fillRect(rect(), palette().button());
  Painter.setPen(palette().windowText().color());
  Painter.drawRect(rect().adjusted(0, 0, -1, -1));
  Painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("CV"));
}

}  // namespace Component
