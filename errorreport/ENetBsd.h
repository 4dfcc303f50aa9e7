// BSD sockets behind the library's socket layer (not in the Windows builds).
#pragma once

#include "ENetApi.h"

namespace net {

#if !defined(_WIN32)
TSocketApi& BsdSocketApi();
#endif

}  // namespace net
