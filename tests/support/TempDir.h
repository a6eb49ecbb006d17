#pragma once
// A temporary folder for one test, with helpers to write and read files.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace sonora::test {

class TempDir {
public:
    TempDir();
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) const;
    static QByteArray read(const QString& path);

private:
    QTemporaryDir dir_;
};

} // namespace sonora::test
