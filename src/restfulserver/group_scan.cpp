#include "restfulserver/group_scan.h"
