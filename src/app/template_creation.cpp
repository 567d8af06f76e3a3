#include "app/template_creation.h"
