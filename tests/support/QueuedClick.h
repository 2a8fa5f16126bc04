#pragma once
// A click delivered through the event loop, as a user's would be, so that an
// exception its handler throws escapes an event handler.

#include <QCoreApplication>
#include <QPushButton>

namespace TestSupport {

inline void ClickThroughEventLoop(QPushButton& Button)
{
  QMetaObject::invokeMethod(&Button, &QPushButton::click, Qt::QueuedConnection);
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
}

}  // namespace TestSupport
