#include "acquire/get_data.h"
