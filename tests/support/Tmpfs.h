#pragma once
// A small RAM file system mounted for one test, to make real file-system
// faults: a full disk, a read-only disk. Needs the right to mount (root in
// CI); without it the test is skipped.

#include <QString>
#include <QTemporaryDir>

#include <sys/mount.h>

namespace sonora::test {

class Tmpfs {
public:
    explicit Tmpfs(qint64 bytes)
    {
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
        mounted_ = dir_.isValid()
            && ::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~Tmpfs()
    {
        if (mounted_)
            ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;

    bool mounted() const { return mounted_; }
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }

    bool makeReadOnly()
    {
        return ::mount(nullptr, QFile::encodeName(dir_.path()).constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                       nullptr) == 0;
    }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
};

} // namespace sonora::test
