#pragma once
// The installer's Qt logging category, "corvane.installer": what the
// installer swallows by design is logged there as a warning, off unless
// QT_LOGGING_RULES turns it on ("corvane.installer.warning=true").

#include <QLoggingCategory>

namespace Logging {
Q_DECLARE_LOGGING_CATEGORY(Installer)
}  // namespace Logging
