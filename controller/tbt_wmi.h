// The WMI client behind controller/tbt_provider.h: namespace
// ROOT\Intel\Thunderbolt, first instance of SdkTbtController, and its methods
// GetCurrentNvmVersion, ReadFirmware and UpdateFirmware. Runs on the update
// worker only, inside the COM apartment that thread opened.
#pragma once

#include <string>
#include <string_view>

#include "controller/tbt_provider.h"

struct IWbemServices;

// Makes `pServices` the connection (the client keeps its own reference) and
// forgets the controller found so far; nullptr drops the connection. For tests
// that stand a provider of their own in place of the WMI service.
void TbtConnectWithServices(IWbemServices* pServices);

// `source` with every backslash doubled; nothing else is escaped or cut.
std::wstring EscapeBackslashes(std::wstring_view source);
