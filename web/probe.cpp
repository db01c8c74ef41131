#include "web/probe.h"
