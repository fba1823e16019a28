#include "CommandButton.h"
