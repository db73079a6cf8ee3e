#pragma once

#include <QByteArray>
#include <QString>

namespace desktop {

// The folder of the running executable, as the kernel names it.
struct ProgramFolder {
    QByteArray bytes; // the folder's name as the file system has it
    QString path;     // the same as text
    // False when the name is not UTF-8: the text then names no folder and must not be used.
    bool named = true;
};

// Made from the kernel's name of the executable, or from fallback (a folder's text) when the
// system does not tell it.
ProgramFolder programFolder(const QString& fallback);
// The folder of an executable named by its path's bytes: programFolder's work, apart so that
// tests can give it any name.
ProgramFolder folderOfExecutable(const QByteArray& executable);

} // namespace desktop
