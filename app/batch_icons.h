// Icons of the batch dialog, drawn in code so that they look the same under
// every style and platform plugin.
#pragma once

#include <QIcon>

// File list icons by index: 0 sub-folder, 2 parent folder, 3 to 9 a volume
// (3 undetermined, 4 not ready, 5 removable, 6 fixed, 7 remote, 8 optical
// disc, 9 memory), 10 to 18 an image file (BMP, GIF, JPEG, PCX, PGM, PPM,
// TGA, TIFF, WIF).
enum CBatchFileIcon : int {
  kIconFolder = 0,
  kIconParent = 2,
  kIconVolumeUnknown = 3,
  kIconVolumeNoRoot = 4,
  kIconVolumeRemovable = 5,
  kIconVolumeFixed = 6,
  kIconVolumeRemote = 7,
  kIconVolumeOptical = 8,
  kIconVolumeMemory = 9,
  kIconFirstImage = 10,
  kIconLastImage = 18,
};

// Conversion list icons by index: the state of an entry.
enum CBatchStateIcon : int {
  kStateWaiting = 0,
  kStateWorking = 1,  // being worked on, and stays so when the entry failed
  kStateWritten = 2,
  kStateConverted = 3,  // written after a colour-depth change
  kStateDepth = 6,      // the colour depth is being changed
};

// The file list icon index of an image of the type id, or -1.
int BatchImageIconIndex(int type);

QIcon BatchFileIcon(int index);
QIcon BatchStateIcon(int index);

// The bitmap buttons: image information, up one folder, remove selected,
// remove all, add selected, add all.
enum class CBatchButton { Info, UpFolder, RemoveSelected, RemoveAll, AddSelected, AddAll };
QIcon BatchButtonIcon(CBatchButton button);
