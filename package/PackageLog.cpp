#include "package/PackageLog.h"

// Warnings are off by default: the user of the application sees nothing.
Q_LOGGING_CATEGORY(PackageLog, "corvane.package", QtCriticalMsg)
