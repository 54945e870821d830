// The test page of a driver: a PNG as wide as the head.
#pragma once

#include <cstddef>

namespace bandrill_app {

struct Driver;

// Writes the driver's test page to a file of its own and puts the file's
// path in buffer. False when it could not be written.
bool WriteTestPage(const Driver& driver, char* buffer, size_t bufsize);

} // namespace bandrill_app
