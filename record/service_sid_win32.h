// The service's own SID, NT SERVICE\ClockAgent: what the service alone is granted, on the
// settings key and the record's folder, and nothing else of LocalService's.
#pragma once

#include <string>
#include <vector>

namespace clockagent {

// The service's own SID (S-1-5-80 and the SHA-1 of its upper-cased UTF-16LE name as five
// subauthorities, as Windows derives it), in binary: what to grant the service, and nothing
// else of LocalService, on what it uses. False when it could not be computed.
bool ServiceSid(std::vector<unsigned char>* sid);
bool ServiceSidOf(const char* serviceName, std::vector<unsigned char>* sid);
// The same as SDDL's string form, "S-1-5-80-..."; empty on failure.
std::string ServiceSidText();

}  // namespace clockagent
