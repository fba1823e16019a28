#include "ListCtrlEx.h"
