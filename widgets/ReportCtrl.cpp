#include "ReportCtrl.h"
