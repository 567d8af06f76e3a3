#include "scan/mad.h"
