#include "restfulserver/handlers.h"
