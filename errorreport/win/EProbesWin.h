// The raw system values behind the report header's probes: registry values,
// the process token's privileges, locales, the default printer (winspool) and
// the network adapters (iphlpapi), both loaded at run time. Each reader gives
// empty values when its source cannot be read.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "EProbes.h"

std::vector<std::string> ReadCompanyCandidates();
std::vector<TPrivilegeRaw> ReadProcessPrivileges();
std::string ReadProcessorText();
std::string ReadVideoCardText();
std::string ReadPrinterText();
std::string ReadLanguageText();
std::vector<TAdapterRaw> ReadNetworkAdapters();

// Fills the header facts that these probes give.
void CollectSystemProbes(TReportHeaderFacts& facts);
