#include "loggerstatus.h"

LoggerStatus loggerStatus;
