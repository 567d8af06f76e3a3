#include "dsp/interp1.h"
