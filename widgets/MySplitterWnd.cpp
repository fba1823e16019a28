#include "MySplitterWnd.h"
