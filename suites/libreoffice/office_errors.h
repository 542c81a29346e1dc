#pragma once

// The turn of whatever an office call raised into an automation::Error: a
// lost or hung office becomes error 462 (and is cleaned up, so that the next
// open starts a new one); any other failure keeps the caller's number.

#include <chrono>
#include <string>

namespace libreoffice {

class OfficeProcess;

class OfficeErrors {
public:
    OfficeErrors(OfficeProcess& process, std::chrono::milliseconds callTimeout)
        : process_(process), callTimeout_(callTimeout) {}

    // Inside a catch block: raises the exception being handled as an
    // automation::Error. `subject` names the file being worked on (may be
    // empty).
    [[noreturn]] void rethrow(long errorNumber, const std::string& subject);

private:
    std::string lostOfficeText(const std::string& subject) const;
    [[noreturn]] void officeFailure(long errorNumber, const std::string& subject,
                                    const std::string& message, bool disposed);

    OfficeProcess& process_;
    std::chrono::milliseconds callTimeout_;
};

} // namespace libreoffice
