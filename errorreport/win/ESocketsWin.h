// Windows Sockets 1.1 behind the library's socket layer, and the unit's
// start-up and shut-down ("ESockets.Init" / "ESockets.Done").
#pragma once

#include "ENetApi.h"

net::TSocketApi& WinsockApi();
// Installs Windows Sockets as the socket layer, then starts the unit
// (WSAStartup); nested calls count.
void InitESocketsWin();
void DoneESocketsWin();
