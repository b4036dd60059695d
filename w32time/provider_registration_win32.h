// The provider's registration with Windows Time: its key under W32Time's TimeProviders, which
// only administrators may write, as `clockagent w32time` and the window see it.
#pragma once

#include <string>

namespace clockagent {

constexpr char kProviderDllName[] = "ClockAgentTimeProvider.dll";
constexpr char kProviderKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\W32Time\\TimeProviders\\ClockAgent";

enum class ProviderPresence { Enabled, Disabled, NotRegistered };

// Whether the key is there, and its Enabled value 1. `*dllName`, when given, gets its DllName.
ProviderPresence FindProvider(std::string* dllName = nullptr);

enum class ProviderChange { Done, NotAllowed, Failed, NotRegistered };

// Writes the key: DllName `dllPath`, Enabled 1, InputProvider 1.
ProviderChange RegisterProvider(const std::string& dllPath);
// Deletes the key (NotRegistered when it was not there).
ProviderChange UnregisterProvider();

// The refusal of the window's Start while Windows Time drives the clock from the receiver.
constexpr char kProviderRefusal[] =
    "Windows Time keeps the clock from the receiver through the ClockAgent time provider: "
    "ClockAgent does not set it beside Windows Time. Remove the provider first "
    "(clockagent w32time remove, as an administrator).";

}  // namespace clockagent
