#include "control/template_file.h"
