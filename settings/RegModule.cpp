#include "RegModule.h"

#include "Logging.h"
#include "Runtime.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSettings>
#include <QVariant>
#include <cerrno>
#include <cstring>
#include <unistd.h>

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

// Values the store refused, kept for the rest of this run so that what the
// user chose still holds, by store file and key, and the store files the
// user has been told about.
struct Unsaved
{
    QHash<QString, QString> values;
    QSet<QString> told;
};

QString unsavedKey(const QString& path, const QString& key)
{
    return path + QLatin1Char('\n') + key;
}

Unsaved& unsaved()
{
    static Unsaved state;
    return state;
}

// Why `path` cannot be written, in a few words.
QString whyNotWritable(const QString& path)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (file.isDir())
        return QStringLiteral("a folder stands where the file should be");
    if (folder.exists() && !folder.isDir())
        return folder.filePath() + QStringLiteral(" is not a folder");
    const QString probe = file.exists() ? path : folder.filePath();
    if (::access(probe.toLocal8Bit().constData(), W_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QStringLiteral("the file could not be written");
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
    const QString path = storeFile();
    const QString key = settingsKey(keyPath, valueName);
    const auto refused = unsaved().values.constFind(unsavedKey(path, key));
    if (refused != unsaved().values.constEnd())
        return *refused;
    const QSettings store(path, QSettings::NativeFormat);
    const QString text = textOf(store.value(key));
    if (store.status() != QSettings::NoError)
        qCDebug(lcStore).noquote() << "cannot read" << path
                                   << (store.status() == QSettings::AccessError
                                              ? "(no access): reading \"\""
                                              : "(damaged lines): reading what can be read");
    return text;
}

void SetRegValue(Root root, const QString& keyPath, const QString& valueName, const QString& value)
{
    if (root != HKEY_CURRENT_USER)
        return;
    const QString path = storeFile();
    const QString key = settingsKey(keyPath, valueName);
    Runtime::MakePrivateFolders(QFileInfo(path).absolutePath());
    QSettings store(path, QSettings::NativeFormat);
    store.setValue(key, value);
    store.sync();
    // A damaged file (FormatError) is still rewritten with every value that
    // could be read, so only a refused write counts as a failure.
    if (store.status() != QSettings::AccessError) {
        unsaved().values.remove(unsavedKey(path, key));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return;
    }
    // The value holds for this run all the same, and the user hears once
    // that it will be forgotten.
    unsaved().values.insert(unsavedKey(path, key), value);
    qCDebug(lcStore).noquote() << "cannot write" << path + QLatin1Char(':') << whyNotWritable(path)
                               << "- the value" << key << "is kept for this run only";
    if (unsaved().told.contains(path))
        return;
    unsaved().told.insert(path);
    Runtime::MsgBox(QStringLiteral("Settings cannot be saved"),
        path + QStringLiteral(": ") + whyNotWritable(path)
            + QStringLiteral(". Your choices hold until Ringwarden ends."));
}

} // namespace RegModule
