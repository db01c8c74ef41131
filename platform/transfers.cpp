#include "platform/transfers.h"
