#include "RegModule.h"

#include "Runtime.h"

#include <QSettings>
#include <QVariant>

namespace RegModule {
namespace {

// The key QSettings knows the value by: the key path with "/" as separator,
// then the value name.
QString settingsKey(const QString& keyPath, const QString& valueName)
{
    QString key = keyPath;
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return key + QLatin1Char('/') + valueName;
}

// The text a stored value stands for, or "" when it is not text.
//
// A value read from the file is either a string or one of the typed forms
// QSettings writes with an "@" prefix (byte arrays, points, dates, other
// variants), a comma-separated list, or nothing. Numbers and booleans have no
// typed form in the file: they are plain text there. But a QSettings object
// in this process that wrote one keeps the typed value until the file
// changes, so they are read as their text here as well, exactly as the next
// run of the program will read them.
QString textOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Bool:
        break;
    default:
        return {};
    }
    QString text = value.toString();
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

} // namespace

QString storeFile()
{
    // The path is worked out at each call instead of letting QSettings find
    // it by organisation and application name: QSettings fixes that path
    // the first time it is used in a process, and would miss a later change
    // of XDG_CONFIG_HOME.
    return Runtime::ConfigDir() + QStringLiteral("/ringwarden.conf");
}

QString GetRegValue(Root root, const QString& keyPath, const QString& valueName)
{
    if (root != HKEY_CURRENT_USER)
        return {};
    // A file that cannot be opened or parsed leaves status() at AccessError
    // or FormatError. Either way value() returns what could be read, and an
    // invalid QVariant for the rest, which reads as "".
    const QSettings store(storeFile(), QSettings::NativeFormat);
    return textOf(store.value(settingsKey(keyPath, valueName)));
}

void SetRegValue(Root root, const QString& keyPath, const QString& valueName, const QString& value)
{
    if (root != HKEY_CURRENT_USER)
        return;
    QSettings store(storeFile(), QSettings::NativeFormat);
    store.setValue(settingsKey(keyPath, valueName), value);
    store.sync();
    // Write failures are not reported, by design; the value is simply not
    // stored. status() is not used to decide anything here, because it is not
    // reliable for that. It reports a damaged file only after the damaged
    // section has been parsed, and not at all when this process had already
    // read the same, unchanged file. And neither error can make sync() lose a
    // readable value: on AccessError QSettings does not touch the file, and
    // on FormatError it rewrites every value it could parse.
}

} // namespace RegModule
