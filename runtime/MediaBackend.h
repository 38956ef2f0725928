#pragma once

#include <QString>
#include <QStringList>

// Whether Qt Multimedia can load the backend it is going to use, asked before
// anything creates a player or an audio output. Qt 6.4 does not fail softly
// there: when the backend named by QT_MEDIA_BACKEND (or the default one) is
// missing, or its plugin does not load, the first player or audio output
// ends the process ("could not load multimedia backend", then a fatal
// "QtMultimedia is not currently supported on this platform"). Asking here
// first lets a missing sound system cost the tone only.
namespace MediaBackend {

// What `find` found.
struct Plugin
{
    // The backend's name ("gstreamer").
    QString name;
    // The plugin file, or "" when none was found or it does not load.
    QString file;
    // Why there is no usable plugin, in a few words; "" when there is one.
    QString problem;
};

// Looks for the multimedia backend `name` the way Qt Multimedia does: among
// the files of the "multimedia" folder of each of `pluginFolders`, a Qt
// plugin for media backends whose keys name it (letter case counts). An
// empty `name` stands for Qt's default: "gstreamer" when there is such a
// plugin, otherwise the first one found. A plugin that is found is loaded,
// so one with a missing library is found unusable. Nothing is created.
Plugin find(const QString& name, const QStringList& pluginFolders);

// True when the backend Qt Multimedia will use in this process is there and
// loads: the one QT_MEDIA_BACKEND names, or the default, looked for in
// QCoreApplication::libraryPaths(). Looked up once per process, as Qt
// chooses its backend once; when it is not usable, one warning line in
// ringwarden.player says so.
bool usable();

} // namespace MediaBackend
