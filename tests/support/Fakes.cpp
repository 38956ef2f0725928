#include "Fakes.h"

#include <QDir>

namespace {
const char* const kVariables[] = { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR" };
}

TestRuntime::TestRuntime()
{
    m_previous = Runtime::install({ &clock, &messageBox, &processStarter, &programEnd });
    const QString folders[] = { configHome(), dataHome(), runtimeDir() };
    for (int i = 0; i < 3; ++i) {
        m_savedEnvironment.append({ kVariables[i], qgetenv(kVariables[i]) });
        QDir().mkpath(folders[i]);
        QFile::setPermissions(folders[i], QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(kVariables[i], folders[i].toLocal8Bit());
    }
}

TestRuntime::~TestRuntime()
{
    Runtime::install(m_previous);
    for (const auto& [name, value] : m_savedEnvironment) {
        if (value.isNull())
            qunsetenv(name.constData());
        else
            qputenv(name.constData(), value);
    }
}
