#include "comtrade_format/record_scan.h"
