#include "recorder/port_access.h"

#include "platform/ports/port_io.h"

namespace pmx {

void DetectPortAccess(bool& port_access) {
  if (PortIo::Instance().AnyPortAvailable()) port_access = true;
}

}  // namespace pmx
