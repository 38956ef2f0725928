#include "MediaBackend.h"

#include "Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>
#include <algorithm>

namespace MediaBackend {
namespace {

constexpr QLatin1String kPluginIid { "org.qt-project.Qt.QPlatformMediaPlugin" };
constexpr QLatin1String kDefaultBackend { "gstreamer" };

struct Candidate
{
    QString key;
    QString file;
};

// Every media backend plugin in the folders, with each of its keys, in
// the folders' order. Reads the plugins' metadata without loading them.
QList<Candidate> candidates(const QStringList& pluginFolders)
{
    QList<Candidate> found;
    for (const QString& folder : pluginFolders) {
        const QDir dir(folder + QStringLiteral("/multimedia"));
        for (const QFileInfo& file : dir.entryInfoList(QDir::Files, QDir::Name)) {
            const QJsonObject meta = QPluginLoader(file.absoluteFilePath()).metaData();
            if (meta.value(QLatin1String("IID")).toString() != kPluginIid)
                continue;
            const QJsonArray keys = meta.value(QLatin1String("MetaData"))
                                        .toObject()
                                        .value(QLatin1String("Keys"))
                                        .toArray();
            for (const QJsonValue& key : keys)
                found.append({ key.toString(), file.absoluteFilePath() });
        }
    }
    return found;
}

} // namespace

Plugin find(const QString& name, const QStringList& pluginFolders)
{
    const QList<Candidate> all = candidates(pluginFolders);
    Plugin plugin { name, {}, {} };
    if (plugin.name.isEmpty()) {
        plugin.name = kDefaultBackend;
        const bool hasDefault = std::any_of(all.cbegin(), all.cend(),
            [](const Candidate& candidate) { return candidate.key == kDefaultBackend; });
        if (!hasDefault && !all.isEmpty())
            plugin.name = all.first().key;
    }
    const auto match = std::find_if(all.cbegin(), all.cend(),
        [&](const Candidate& candidate) { return candidate.key == plugin.name; });
    if (match == all.cend()) {
        plugin.problem = QStringLiteral("no plugin for it in ")
            + pluginFolders.join(QStringLiteral("/multimedia, ")) + QStringLiteral("/multimedia");
        return plugin;
    }
    // Loaded now, it stays loaded for Qt's own use of it.
    QPluginLoader loader(match->file);
    if (!loader.load()) {
        plugin.problem = loader.errorString();
        return plugin;
    }
    plugin.file = match->file;
    return plugin;
}

bool usable()
{
    static const bool answer = [] {
        const Plugin plugin
            = find(qEnvironmentVariable("QT_MEDIA_BACKEND"), QCoreApplication::libraryPaths());
        if (plugin.file.isEmpty()) {
            qCWarning(lcPlayer).noquote()
                << "no ring tone: the multimedia backend" << plugin.name
                << "cannot be loaded (" + plugin.problem + QLatin1Char(')');
            return false;
        }
        qCDebug(lcPlayer).noquote() << "multimedia backend" << plugin.name << "from" << plugin.file;
        return true;
    }();
    return answer;
}

} // namespace MediaBackend
