// Placeholder until the format class lands: no reader/writer yet.
#include "formats/registry.h"

vxRWImage* vxCreateTGA() { return nullptr; }

bool vxTgaHeaderPlausible(const unsigned char*, size_t, long long) { return false; }
