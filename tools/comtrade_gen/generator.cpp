#include "comtrade_gen/generator.h"
