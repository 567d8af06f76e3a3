#include "acquire/mseed_reader.h"
