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

CapturedLog* CapturedLog::s_current = nullptr;

CapturedLog::CapturedLog(const QString& rules)
{
    QLoggingCategory::setFilterRules(rules);
    s_current = this;
    m_previous = qInstallMessageHandler(&CapturedLog::handle);
}

CapturedLog::~CapturedLog()
{
    qInstallMessageHandler(m_previous);
    s_current = nullptr;
    QLoggingCategory::setFilterRules(QString());
}

QStringList CapturedLog::messages(const QString& category) const
{
    QStringList list;
    for (const Line& line : m_lines) {
        if (line.category == category)
            list << line.message;
    }
    return list;
}

void CapturedLog::handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString category = QString::fromLatin1(context.category ? context.category : "");
    if (s_current && category.startsWith(QLatin1String("ringwarden."))) {
        s_current->m_lines.append({ type, category, message });
        return;
    }
    if (s_current && s_current->m_previous)
        s_current->m_previous(type, context, message);
}
