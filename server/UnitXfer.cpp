#include "UnitXfer.h"
