#pragma once
// The installer's Qt logging category, "corvane.installer": where the
// installer passes over an error by design, a warning there tells a
// developer who asks (QT_LOGGING_RULES="corvane.installer.warning=true").

#include <QLoggingCategory>

namespace Logging {
Q_DECLARE_LOGGING_CATEGORY(Installer)
}  // namespace Logging
