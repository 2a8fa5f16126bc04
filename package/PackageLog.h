#pragma once
// The package's log category, "corvane.package": where an error that the
// package swallows by design is told, for developers only. Silent unless
// asked for, e.g. QT_LOGGING_RULES="corvane.package.warning=true".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(PackageLog)
