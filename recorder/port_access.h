#pragma once

namespace pmx {

// Whether the program may drive the parallel port; callers of PortIn and PortOut
// (platform/port_io.h) test it first. False at start.
// Threads: GUI thread only.
extern bool PortAccess;

// Sets PortAccess when one of the parallel ports opens and can be claimed;
// otherwise leaves it as it was.
void DetectPortAccess();

}  // namespace pmx
