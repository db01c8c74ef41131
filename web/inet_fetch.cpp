#include "web/inet_fetch.h"
