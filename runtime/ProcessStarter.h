#pragma once

#include <QString>
#include <QStringList>

// Starts another program without waiting for it.
class ProcessStarter
{
public:
    virtual ~ProcessStarter() = default;

    // Starts `program` with `arguments` detached from this process. Returns
    // false when it could not be started; nothing else is reported.
    virtual bool start(const QString& program, const QStringList& arguments) = 0;
};

// The real starter (QProcess::startDetached).
class DetachedProcessStarter final : public ProcessStarter
{
public:
    bool start(const QString& program, const QStringList& arguments) override;
};
