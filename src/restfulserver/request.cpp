#include "restfulserver/request.h"
