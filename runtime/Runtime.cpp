#include "Runtime.h"

#include "Clock.h"
#include "MessageBox.h"
#include "ProcessStarter.h"
#include "ProgramEnd.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

namespace Runtime {
namespace {

Services& current()
{
    static SystemClock clock;
    static StandardErrorMessageBox messageBox;
    static DetachedProcessStarter processStarter;
    static ProcessExit programEnd;
    static Services services { &clock, &messageBox, &processStarter, &programEnd };
    return services;
}

struct InstanceState
{
    QString folder;
    std::unique_ptr<QLockFile> lock;
    bool previous = false;
};

InstanceState& instance()
{
    static InstanceState state;
    return state;
}

std::mt19937_64& generator()
{
    static std::mt19937_64 engine;
    return engine;
}

} // namespace

Services install(const Services& replacement)
{
    Services& services = current();
    const Services previous = services;
    if (replacement.clock)
        services.clock = replacement.clock;
    if (replacement.messageBox)
        services.messageBox = replacement.messageBox;
    if (replacement.processStarter)
        services.processStarter = replacement.processStarter;
    if (replacement.programEnd)
        services.programEnd = replacement.programEnd;
    return previous;
}

const Services& services()
{
    return current();
}

void DoEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

float Timer()
{
    return current().clock->timeOfDay();
}

void Pause(float seconds)
{
    // Also rejects NaN.
    if (!(seconds > 0.0f))
        return;
    current().clock->wait(seconds);
}

void MsgBox(const QString& text, const QString& detail)
{
    current().messageBox->show(text, detail);
}

void Notice(const QString& text, const QString& detail)
{
    current().messageBox->post(text, detail);
}

void Ask(const QString& question, const QString& detail, const QString& accept,
    const QString& reject, std::function<void(bool accepted)> answered)
{
    current().messageBox->ask(question, detail, accept, reject, std::move(answered));
}

void End()
{
    ReleaseInstance();
    current().programEnd->end();
    // An ending that came back would let the program run on half-ended.
    std::abort();
}

namespace {

// Tries to take the lock in `state.folder`. Only a lock held by a live
// process counts as another instance: when the lock cannot be taken for
// any other reason (no runtime folder, no permission) this copy goes on as
// the only one, and the serial port's own lock still keeps two copies off
// one modem.
void tryLock(InstanceState& state)
{
    QDir().mkpath(state.folder);
    auto lock = std::make_unique<QLockFile>(state.folder + QStringLiteral("/instance.lock"));
    // Only a dead owner makes a lock stale, however old it is.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        state.lock = std::move(lock);
        state.previous = false;
    } else {
        state.previous = lock->error() == QLockFile::LockFailedError;
    }
}

} // namespace

bool ClaimInstance(const QString& lockDirectory)
{
    InstanceState& state = instance();
    state.lock.reset();
    state.folder = (lockDirectory.isEmpty()
                           ? QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                           : lockDirectory)
        + QStringLiteral("/ringwarden");
    tryLock(state);
    return !state.previous;
}

bool PrevInstance()
{
    InstanceState& state = instance();
    // The other instance may have ended since this one started: ask again.
    if (!state.lock && !state.folder.isEmpty())
        tryLock(state);
    return state.previous;
}

void ReleaseInstance()
{
    InstanceState& state = instance();
    state.lock.reset();
    state.folder.clear();
    state.previous = false;
}

QString AppPath()
{
    return QCoreApplication::applicationDirPath();
}

QString ProgramFile(const QString& name)
{
    const QString beside = AppPath() + QLatin1Char('/') + name;
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed
        = AppPath() + QStringLiteral("/" RINGWARDEN_DATADIR_FROM_BINDIR "/") + name;
    if (QFileInfo::exists(installed))
        return installed;
    return beside;
}

QString ConfigDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/ringwarden");
}

QString DataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/ringwarden");
}

bool MakePrivateFolders(const QString& folder, QString* error)
{
    QStringList missing;
    for (QString current = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
         !QFileInfo::exists(current); current = QFileInfo(current).path()) {
        missing.prepend(current);
        if (QFileInfo(current).path() == current)
            break;
    }
    for (const QString& each : missing) {
        if (!QDir().mkdir(each, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
            && !QFileInfo(each).isDir()) {
            if (error)
                *error = QStringLiteral("cannot create the folder ") + each;
            return false;
        }
    }
    return true;
}

bool AppendLine(const QString& path, const QString& line)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray bytes = line.toUtf8() + '\n';
    return file.write(bytes) == bytes.size();
}

bool Shell(const QString& program, const QStringList& arguments)
{
    return current().processStarter->start(program, arguments);
}

void Randomize(float seed)
{
    std::uint32_t bits = 0;
    static_assert(sizeof bits == sizeof seed);
    std::memcpy(&bits, &seed, sizeof bits);
    generator().seed(bits);
}

double Rnd()
{
    // 53 random bits scaled into [0, 1): never 1.
    return std::ldexp(static_cast<double>(generator()() >> 11), -53);
}

} // namespace Runtime
