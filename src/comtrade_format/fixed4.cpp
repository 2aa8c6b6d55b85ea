#include "comtrade_format/fixed4.h"
