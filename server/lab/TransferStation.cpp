#include "lab/TransferStation.h"
