#include "transport/http_server.h"
