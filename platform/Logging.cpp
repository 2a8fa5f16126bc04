#include "platform/Logging.h"

namespace Logging {
Q_LOGGING_CATEGORY(Platform, "corvane.platform", QtCriticalMsg)
}  // namespace Logging
