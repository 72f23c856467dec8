// Folders and volumes as the batch dialog and the preferences sheet browse
// them: the list of mounted volumes that stands above every root, moving up
// and down the folder tree, and the folder picker.
#pragma once

#include <QList>
#include <QString>

class QWidget;

struct CVolume {
  QString root;   // the mount point
  QString label;  // the volume's label, or empty
  int icon = 3;   // file list icon, 3 to 9 by kind
};

// The icon of a volume from its file system type, whether its device is
// removable and whether it can be read: 5 removable, 6 fixed, 7 remote
// (network file systems), 8 optical disc (iso9660, udf), 9 memory (tmpfs,
// ramfs), 4 not ready, 3 anything else.
int BatchVolumeIcon(const QString& fileSystemType, bool removable, bool ready);

// The mounted volumes whose root is a folder: the root file system first,
// then the others in mount order.
QList<CVolume> BatchVolumes();

// The file list text of a volume: the first volume shows its root alone,
// every other one "%s (%s)" of root and label, where a removable volume
// without a label is called "Removeable Media".
QString BatchVolumeText(const CVolume& volume, bool first);

// Up one folder: "/" gives "" (the volume list), "/photos" gives "/",
// "/a/b" gives "/a"; a name without a slash stays as it is.
QString BatchParentFolder(const QString& folder);
// A sub-folder or a file of the folder, with one slash between them.
QString BatchChildPath(const QString& folder, const QString& name);

// Shows the folder picker starting at `start`; the chosen folder, or an empty
// string when the user did not set one.
QString PickBatchFolder(QWidget* parent, const QString& title, const QString& start);
