#pragma once
// The platform layer's Qt logging category, "corvane.platform". An error
// this layer swallows by design (a clean-up that failed, a courtesy that
// was refused) is logged there as a warning. Users see nothing of it: the
// category's warnings are off unless QT_LOGGING_RULES turns them on
// ("corvane.platform.warning=true", or "corvane.*.warning=true" for every
// layer).

#include <QLoggingCategory>

namespace Logging {
Q_DECLARE_LOGGING_CATEGORY(Platform)
}  // namespace Logging
