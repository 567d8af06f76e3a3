#include "scan/detection.h"
