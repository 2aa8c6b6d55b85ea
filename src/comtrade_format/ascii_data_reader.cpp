#include "comtrade_format/comtrade_format.h"
