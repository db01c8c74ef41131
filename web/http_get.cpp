#include "web/http_get.h"
