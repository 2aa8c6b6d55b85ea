#include "restfulserver/reply.h"
