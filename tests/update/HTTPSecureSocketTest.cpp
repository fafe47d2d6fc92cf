#include "update/HTTPSecureSocket.h"
