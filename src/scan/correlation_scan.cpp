#include "scan/correlation_scan.h"
