#pragma once

#include <QLoggingCategory>

// The desktop platform's warnings ("qelvo.desktop"): turned off with
// QT_LOGGING_RULES="qelvo.desktop.warning=false".
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)
