#include "restfulserver/restful_server.h"
