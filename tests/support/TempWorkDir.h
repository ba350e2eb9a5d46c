// A fresh, empty current directory for as long as the object lives: the state file
// "qm1.dat" of one test never reaches another.
#pragma once

#include <QString>
#include <QTemporaryDir>

class TempWorkDir final {
public:
    TempWorkDir();
    ~TempWorkDir();
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;

    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};
