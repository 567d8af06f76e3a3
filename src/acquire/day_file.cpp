#include "acquire/day_file.h"
