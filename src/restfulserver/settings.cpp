#include "restfulserver/settings.h"
