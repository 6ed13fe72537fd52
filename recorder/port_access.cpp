#include "recorder/port_access.h"

#include "platform/port_io.h"

namespace pmx {

bool PortAccess = false;

void DetectPortAccess() {
  if (PortIo::Instance().AnyPortAvailable()) PortAccess = true;
}

}  // namespace pmx
