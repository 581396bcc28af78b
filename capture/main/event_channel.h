// The event channel: JSON lines on standard output, one indivisible write per event.
#pragma once

#include <mutex>
#include <nlohmann/json.hpp>

namespace tavolu {

using Json = nlohmann::json;

// The one lock of the event channel; held only while one line is written.
std::mutex& outputLock();

// Writes the event as one compact line with sorted keys. Never fails towards its caller: an
// event that cannot be serialised is dropped, invalid UTF-8 in its texts is replaced, a failed
// write (closed pipe) is ignored.
void emit(const Json& event);

// Writes to a different file descriptor (tests).
void setEventOutputForTesting(int fd);

// The rectangle dictionary {"x","y","width","height"}; extents are made non-negative.
Json rect(double x, double y, double width, double height);

}  // namespace tavolu
