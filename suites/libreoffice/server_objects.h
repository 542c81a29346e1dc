#pragma once

// How the registration reaches the two object models.

#include "core/automation/automation.h"

#include <memory>

namespace libreoffice {

class Session;

// What the application objects of both models answer besides their members.
class ApplicationObject {
public:
    virtual ~ApplicationObject() = default;
    virtual int processGroup() const = 0;
};

automation::Object newWordApplication(std::shared_ptr<Session> session);
automation::Object newExcelApplication(std::shared_ptr<Session> session);

} // namespace libreoffice
