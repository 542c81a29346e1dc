#pragma once

// The Windows side of the automation layer: classes created and attached
// through COM, objects driven through their IDispatch interface, and COM
// failures raised as automation::Error with the numbers Visual Basic gives
// them. Built only for Windows.

#include "core/automation/automation.h"

#include <string>
#include <string_view>

struct IDispatch;

namespace automation::com {

// Makes sure COM is initialised (single-threaded apartment) on the calling
// thread; it stays initialised until the thread ends. Every function below
// calls this itself. COM objects must be used and released on the thread
// that created them.
void ensureInitialised();

// A new instance of a class named by its ProgID ("Word.Application"):
// CLSIDFromProgID, then CoCreateInstance for a local or in-process server.
// Error 429 with the system's description when the name is not registered
// or the server cannot be started.
Object createObject(std::string_view progId);

// The running instance registered as active for the class (GetActiveObject);
// Error 429 with the system's description when there is none.
Object getActiveObject(std::string_view progId);

// Wraps an IDispatch pointer (taking a reference of its own); Nothing for
// a null pointer.
Object wrap(IDispatch* dispatch);

// The IDispatch behind an object made by this module, or null for Nothing
// and for objects of other servers. No reference is added.
IDispatch* dispatchOf(const Object& object);

// Makes the system's COM classes the registry's fallback: every class not
// registered by name is created and attached through COM.
void useSystemClasses(Registry& registry);

// The Visual Basic error number of a failed COM call (HRESULT): the
// automation errors' own numbers (a missing member is 438, an unregistered
// class 429, ...), the low word for errors of the control facility (as Word
// and Excel raise them), and the HRESULT itself otherwise.
long errorNumber(long hresult);

// The system's description of an HRESULT (FormatMessageW), without the
// trailing line break; empty when the system has none.
std::string systemDescription(long hresult);

} // namespace automation::com
