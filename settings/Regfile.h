#pragma once
// The .reg export format of the Windows registry editor, version 5.00: the text form in
// which every hive of the store is kept, so files move to and from a Windows registry.

#include "settings/Registryhive.h"

#include <QByteArray>
#include <QString>

struct TRegFileContent
{
    TRegistryHive Hive;
    // Empty when the whole text was understood; otherwise the line number and what was
    // wrong. Hive then holds everything before that line.
    QString Error;
};

// Reads UTF-8 text (with or without a byte order mark) or UTF-16LE with its byte order
// mark, as the Windows registry editor exports, and REGEDIT4 files in Windows-1252.
// Sections of another root than the hive's are an error. Empty content is an empty hive.
TRegFileContent ReadRegFile(const QByteArray& content, const QString& rootName);

// UTF-8 text with CR LF line ends, keys in registry export order.
QByteArray WriteRegFile(const TRegistryHive& hive);
