// Placeholder until the format class lands: no reader/writer yet.
#include "formats/registry.h"

vxRWImage* vxCreateWIF() { return nullptr; }
