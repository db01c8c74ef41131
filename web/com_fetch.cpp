#include "web/com_fetch.h"
