// The protocol families of the Nokia phones and the decisions of the phone
// object's connect sequence, keep-alive and status reads that depend only on the
// model: which family a model speaks, which messages initialise it, which request
// reads its identity, how often it is kept alive.
#pragma once

#include "PhoneMessages.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The family of a model: 0, 1 and 2 the older message set, 3 the 7110 set, 4 the
// newest set, -1 when no rule matches. A cached value above 0 is kept; otherwise
// the rules start from the cached value.
int PhoneFamily(int cached, int modelNumber, std::string_view productCode);

// True when a connect on this link method has what it needs: a socket for
// infrared, a COM port for the serial links (DKU-2 needs neither).
bool ConnectPrerequisitesMet(std::uint8_t linkMethod, std::intptr_t socket, int comPort);

// Messages sent, without waiting, to initialise and to release a family.
std::vector<TPhoneRequest> InitFamilyRequests(int family);
std::vector<TPhoneRequest> DeinitFamilyRequests(int family);

// The request sent before the model read on a link method, if any: the DA
// message on the AT-switch link, one extra "SYS_GET" on the FBUS cable.
std::optional<TPhoneRequest> PreModelReadRequest(std::uint8_t linkMethod);

// The product code of a "SYS_GET" reply made comparable with the model table: a
// code holding "RHV" and "3" is "RHV-3"; letters the table does not know are
// dropped from its end until it knows the code or a digit ends it.
std::string NormalizeProductCode(std::string_view code);

// The identity request of a model, or nothing when its family has none.
std::optional<TIdentityRequest> IdentityRequestFor(std::string_view productCode, int family, int modelNumber);

// The status requests of a model (battery and signal).
std::vector<TPhoneRequest> StatusRequests(int family, int modelNumber);

// The requests that read the hardware version (the first sent without waiting).
std::vector<TPhoneRequest> HwVersionRequests(int family);

// Keep-alive interval: 3 s for the models that need the DA check on the AT-switch
// link, 15 s otherwise.
int KeepAliveIntervalMs(int modelNumber, std::string_view productCode, std::uint8_t linkMethod);
inline constexpr int kKeepAliveIntervalMs = 15000;
inline constexpr int kKeepAliveFastIntervalMs = 3000;

// Models whose clock or alarm the phone object leaves alone.
bool CanReadClock(int modelNumber);
bool CanSetClock(int modelNumber);
bool CanReadAlarm(int modelNumber);
bool CanSetAlarm(int modelNumber);
