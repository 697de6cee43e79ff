#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <unistd.h>

/// A small exFAT drive mounted at `mountPoint` from an image file, as a USB stick: it shows
/// every file writable by all, whatever is asked. Needs root, exfatprogs, exfat-fuse and
/// losetup; `skipReason` says what is missing when it could not be mounted.
class ExfatDrive
{
public:
    ExfatDrive(const QString &image, const QString &mountPoint, qint64 size = 16 << 20)
        : m_mountPoint(mountPoint)
    {
        const QStringList sbin{"/usr/sbin", "/sbin", "/usr/bin", "/bin"};
        const QString mkfs = QStandardPaths::findExecutable("mkfs.exfat", sbin);
        m_mountFuse = QStandardPaths::findExecutable("mount.exfat-fuse", sbin);
        const QString &mountFuse = m_mountFuse;
        m_losetup = QStandardPaths::findExecutable("losetup", sbin);
        if (::geteuid() != 0 || mkfs.isEmpty() || mountFuse.isEmpty() || m_losetup.isEmpty()) {
            skipReason = "needs root, exfatprogs, exfat-fuse and losetup";
            return;
        }
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(size) ||
            QProcess::execute(mkfs, {image}) != 0) {
            skipReason = "cannot make an exFAT image here";
            return;
        }
        file.close();
        QProcess attach;
        attach.start(m_losetup, {"-f", "--show", image});
        attach.waitForFinished();
        m_device = QString::fromLocal8Bit(attach.readAllStandardOutput()).trimmed();
        if (attach.exitCode() != 0 || m_device.isEmpty()) {
            m_device.clear();
            skipReason = "cannot attach a loop device here";
            return;
        }
        if (!QDir().mkpath(mountPoint) ||
            QProcess::execute(mountFuse, {m_device, mountPoint}) != 0) {
            skipReason = "cannot mount an exFAT drive here";
            return;
        }
        m_mounted = true;
    }
    ~ExfatDrive()
    {
        if (m_mounted)
            QProcess::execute("umount", {m_mountPoint});
        if (!m_device.isEmpty())
            QProcess::execute(m_losetup, {"-d", m_device});
    }
    ExfatDrive(const ExfatDrive &) = delete;
    ExfatDrive &operator=(const ExfatDrive &) = delete;

    /// Takes the drive out and puts it in again, as a card pulled and pushed back.
    bool remount()
    {
        return m_mounted && QProcess::execute("umount", {m_mountPoint}) == 0 &&
               QProcess::execute(m_mountFuse, {m_device, m_mountPoint}) == 0;
    }

    QString skipReason;

private:
    QString m_mountPoint;
    QString m_losetup;
    QString m_mountFuse;
    QString m_device;
    bool m_mounted = false;
};
