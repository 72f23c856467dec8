#include "batch_folders.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QSet>
#include <QStorageInfo>

#include "batch_icons.h"

namespace {

// Whether the block device behind a volume is removable, from sysfs: a
// partition answers for its whole disk.
bool DeviceRemovable(const QByteArray& device) {
  if (!device.startsWith("/dev/")) return false;
  const QString path = QString::fromLocal8Bit(device);
  const QString resolved = QFileInfo(path).canonicalFilePath();
  const QString name = QFileInfo(resolved.isEmpty() ? path : resolved).fileName();
  QString node = QFileInfo(QStringLiteral("/sys/class/block/") + name).canonicalFilePath();
  if (node.isEmpty()) return false;
  if (QFile::exists(node + QStringLiteral("/partition"))) node = QFileInfo(node).path();
  QFile flag(node + QStringLiteral("/removable"));
  if (!flag.open(QIODevice::ReadOnly)) return false;
  return flag.readAll().trimmed() == "1";
}

CVolume MakeVolume(const QStorageInfo& info) {
  CVolume volume;
  volume.root = info.rootPath();
  volume.label = info.name();
  bool removable = DeviceRemovable(info.device());
  // Desktop automounters put media that come and go under these folders.
  if (volume.root.startsWith(QStringLiteral("/media/")) ||
      volume.root.startsWith(QStringLiteral("/run/media/"))) {
    removable = true;
  }
  volume.icon =
      BatchVolumeIcon(QString::fromLatin1(info.fileSystemType()), removable, info.isReady());
  if (removable && volume.label.trimmed().isEmpty())
    volume.label = QStringLiteral("Removeable Media");
  return volume;
}

}  // namespace

int BatchVolumeIcon(const QString& fileSystemType, bool removable, bool ready) {
  static const QSet<QString> kRemote = {
      QStringLiteral("nfs"),       QStringLiteral("nfs4"),           QStringLiteral("cifs"),
      QStringLiteral("smb3"),      QStringLiteral("smbfs"),          QStringLiteral("9p"),
      QStringLiteral("afs"),       QStringLiteral("fuse.sshfs"),     QStringLiteral("sshfs"),
      QStringLiteral("davfs"),     QStringLiteral("fuse.davfs"),     QStringLiteral("ceph"),
      QStringLiteral("glusterfs"), QStringLiteral("fuse.glusterfs"), QStringLiteral("lustre"),
  };
  const QString type = fileSystemType.toLower();
  if (!ready) return kIconVolumeNoRoot;
  if (kRemote.contains(type)) return kIconVolumeRemote;
  if (type == QStringLiteral("iso9660") || type == QStringLiteral("udf")) return kIconVolumeOptical;
  if (type == QStringLiteral("tmpfs") || type == QStringLiteral("ramfs")) return kIconVolumeMemory;
  if (removable) return kIconVolumeRemovable;
  static const QSet<QString> kFixed = {
      QStringLiteral("ext2"),  QStringLiteral("ext3"),     QStringLiteral("ext4"),
      QStringLiteral("xfs"),   QStringLiteral("btrfs"),    QStringLiteral("zfs"),
      QStringLiteral("f2fs"),  QStringLiteral("jfs"),      QStringLiteral("reiserfs"),
      QStringLiteral("vfat"),  QStringLiteral("exfat"),    QStringLiteral("ntfs"),
      QStringLiteral("ntfs3"), QStringLiteral("fuseblk"),  QStringLiteral("hfsplus"),
      QStringLiteral("apfs"),  QStringLiteral("bcachefs"),
  };
  if (kFixed.contains(type)) return kIconVolumeFixed;
  return kIconVolumeUnknown;
}

QList<CVolume> BatchVolumes() {
  QList<CVolume> volumes;
  QSet<QString> roots;
  // The root file system first; some systems (containers, an overlay root)
  // do not report it among the mounted volumes.
  const QStorageInfo root = QStorageInfo::root();
  volumes << MakeVolume(root);
  volumes.first().root = QStringLiteral("/");
  roots << QStringLiteral("/");
  for (const QStorageInfo& info : QStorageInfo::mountedVolumes()) {
    const QString path = info.rootPath();
    if (roots.contains(path) || !QFileInfo(path).isDir()) continue;
    roots << path;
    volumes << MakeVolume(info);
  }
  return volumes;
}

QString BatchVolumeText(const CVolume& volume, bool first) {
  if (first) return volume.root;
  return QString::asprintf("%s (%s)", qUtf8Printable(volume.root), qUtf8Printable(volume.label));
}

QString BatchParentFolder(const QString& folder) {
  if (folder == QStringLiteral("/")) return {};
  QString path = folder;
  while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  if (slash < 0) return folder;
  if (slash == 0) return QStringLiteral("/");
  return path.left(slash);
}

QString BatchChildPath(const QString& folder, const QString& name) {
  if (folder.endsWith(QLatin1Char('/'))) return folder + name;
  return folder + QLatin1Char('/') + name;
}

QString PickBatchFolder(QWidget* parent, const QString& title, const QString& start) {
  QFileDialog dialog(parent, title, start);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setNameFilter(QStringLiteral("Folders (*....123456890)"));
  dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Set Directory"));
  dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Don't Set Directory"));
  dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Folder:"));
  // Only folders are chosen here: the file type row has nothing to offer.
  if (auto* label = dialog.findChild<QLabel*>(QStringLiteral("fileTypeLabel"))) label->hide();
  if (auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) combo->hide();
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? QString() : QDir::cleanPath(chosen.first());
}
