#include "my_com.h"
