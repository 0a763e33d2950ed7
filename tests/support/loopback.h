#pragma once

// Loopback helpers for network tests.

namespace calmcove::test {

// A port on 127.0.0.1 that was free a moment ago and has no listener: connections to it
// are refused.
int closedLoopbackPort();

} // namespace calmcove::test
