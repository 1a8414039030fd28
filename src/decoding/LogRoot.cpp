#include "decoding/LogRoot.h"

namespace Tarnek {

// Anchors the vtable of the root class in this library.
LogRoot::~LogRoot() {}

}  // namespace Tarnek
