#include "dsp/butterworth.h"
