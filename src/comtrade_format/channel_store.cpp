#include "comtrade_format/channel_store.h"
