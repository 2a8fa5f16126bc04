#pragma once
// The host framework's Qt logging category, "corvane.hostfw": where this
// layer swallows an error by design, a warning there shows it to a
// developer who asks (QT_LOGGING_RULES="corvane.hostfw.warning=true"); off
// otherwise, so users see nothing of it.

#include <QLoggingCategory>

namespace Logging {
Q_DECLARE_LOGGING_CATEGORY(HostFw)
}  // namespace Logging
