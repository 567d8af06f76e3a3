#include "dsp/bandpass.h"
