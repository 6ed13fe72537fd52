#pragma once

namespace pmx {

// Sets port_access when one of the parallel ports opens and can be claimed;
// otherwise leaves it as it was.
void DetectPortAccess(bool& port_access);

}  // namespace pmx
