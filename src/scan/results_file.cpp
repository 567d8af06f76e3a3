#include "scan/results_file.h"
