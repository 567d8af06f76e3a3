#include "dsp/time_convert.h"
