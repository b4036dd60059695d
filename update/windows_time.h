// The Windows Time service, which sets the clock from the network on a schedule of its own and so
// undoes the receiver's time unless told not to.
#pragma once

#include <string>

namespace clockagent {

constexpr char kWindowsTimeService[] = "W32Time";
constexpr char kWindowsTimeParameters[] = "SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters";

constexpr char kWindowsTimeAdvice[] =
    "Windows Time is set to take the time from the network and will overwrite the receiver's "
    "time. To stop it, run \"w32tm /config /syncfromflags:NO /update\" in an administrator's "
    "console (or install ClockAgent again and choose \"Stop Windows Time from resetting the "
    "clock\").";

// Windows Time steers the clock's rate itself: a discipline beside it would fight it.
constexpr char kWindowsTimeDisciplineText[] =
    "discipline off: Windows Time is set to synchronise this clock, and the two would fight";

// Whether Windows Time sets the clock from the network: it runs, and its Parameters value "Type"
// is anything but NoSync (an absent Type is its default, NT5DS or NTP).
bool WindowsTimeOverwrites(bool running, const std::string& type);

#ifdef _WIN32
// Whether the service manager says the service runs.
bool WindowsTimeRuns(const char* service = kWindowsTimeService);

// The same, asked of the service manager and the registry; the names are for tests to stand in.
bool WindowsTimeOverwrites(const char* service = kWindowsTimeService,
                           const char* parametersKey = kWindowsTimeParameters);
#endif

}  // namespace clockagent
