// The JPEG library's error manager, adapted to the engine.
//
// The library reports a fatal error by calling error_exit, which must not
// return. Ours keeps the formatted message and jumps back with longjmp to the
// one short function that called setjmp (DecodeGuarded in jpeg_decode.cpp,
// EncodeGuarded in jpeg_encode.cpp). Nothing between that function and the
// library may own a C++ object with a destructor: a longjmp across one is
// undefined behaviour, so the guarded steps work only on plain structs whose
// owner lives outside the jump. Warnings go to the notice sink instead of
// standard error.
#pragma once

#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE and size_t without declaring them

// clang-format off
#include <jpeglib.h>
// clang-format on

struct vxJpegError {
  jpeg_error_mgr pub;  // first, so the library's pointer is also ours
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

// Fills `error` with the library's standard manager and our replacements, and
// returns the part the library sees (for cinfo.err).
jpeg_error_mgr* vxJpegErrorSetup(vxJpegError* error);

// Ends the guarded steps the way a library error does, with `text` as the
// message. Only for code running under DecodeGuarded or EncodeGuarded.
[[noreturn]] void vxJpegFail(j_common_ptr cinfo, const char* text);
