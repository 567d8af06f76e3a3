#include "acquire/create_path.h"
