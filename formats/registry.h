// The registration table: which reader/writer class serves which type id.
#pragma once

#include <cstddef>

#include "formats/rwimage.h"

// Factories of the format classes, one per format.
vxRWImage* vxCreateWIF();
vxRWImage* vxCreateBMP();
vxRWImage* vxCreatePCX();
vxRWImage* vxCreatePPM();
vxRWImage* vxCreatePGM();
vxRWImage* vxCreateTIFF();
vxRWImage* vxCreateTGA();
vxRWImage* vxCreateGIF();
vxRWImage* vxCreateJPEG();

// True when the first bytes of a file (head, got of them) form a consistent
// Targa header for a file of fileSize bytes (-1 when unknown).
bool vxTgaHeaderPlausible(const unsigned char* head, size_t got, long long fileSize);
