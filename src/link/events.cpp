#include "events.h"
