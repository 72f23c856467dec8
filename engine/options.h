// Writer options and the hook through which the viewer supplies them.
//
// The WIF and JPEG writers take a quality from an options record. When a
// writer is asked for its options (OutOptions), the engine, which has no user
// interface, asks the dialog hook that the application installed; without a
// hook there are no options (null).
#pragma once

#include <cstdint>
#include <functional>

struct vxSaveOptions {
  int32_t quality = 50;  // WIF 1..255 (default 50), JPEG 1..100 (default 80)
  int32_t reserved = 6;  // always 6; no writer reads it
  int32_t levels = 0;    // WIF wavelet levels 1..8, 0 = chosen by the encoder
};

inline constexpr int vxDefaultWifQuality = 50;
inline constexpr int vxDefaultJpegQuality = 80;

// Shows the options dialog for the type id; returns a new record (the caller
// deletes it) or null when the user cancelled.
using vxOptionsDialogHook = std::function<vxSaveOptions*(int typeId)>;
vxOptionsDialogHook vxSetOptionsDialogHook(vxOptionsDialogHook hook);
vxSaveOptions* vxRunOptionsDialog(int typeId);

// Releases a record returned by OutOptions / GetOutOptions.
void vxFreeOptions(void* options);
