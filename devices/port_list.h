#pragma once

namespace pmx {

// The platform family the serial code runs on: 1 for systems whose serial
// driver loses ring events (the port then makes them up from the RING line
// falling), 2 for those that report them, -1 when it cannot be told. Linux
// reports ring transitions itself.
inline int QueryPlatformId() { return 2; }

}  // namespace pmx
