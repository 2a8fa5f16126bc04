#include "hostfw/Logging.h"

namespace Logging {
Q_LOGGING_CATEGORY(HostFw, "corvane.hostfw", QtCriticalMsg)
}  // namespace Logging
