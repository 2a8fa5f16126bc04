#include "installer/Logging.h"

namespace Logging {
Q_LOGGING_CATEGORY(Installer, "corvane.installer", QtCriticalMsg)
}  // namespace Logging
