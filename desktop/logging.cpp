#include "desktop/logging.h"

Q_LOGGING_CATEGORY(lcDesktop, "qelvo.desktop")
