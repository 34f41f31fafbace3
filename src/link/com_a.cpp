#include "com_a.h"
