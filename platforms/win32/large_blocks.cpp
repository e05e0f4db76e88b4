// Large blocks (platform.h): the Windows heap maps large blocks on its own already.
#include "platforms/platform.h"

namespace platform {

void mapLargeBlocks() {}

} // namespace platform
