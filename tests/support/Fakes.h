#pragma once

#include "MessageBox.h"
#include "ProcessStarter.h"
#include "ProgramEnd.h"
#include "Runtime.h"
#include "TestClock.h"

#include <QList>
#include <QLoggingCategory>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

// A time in seconds as whole milliseconds, for comparing clock readings
// that went through the program's single-precision waits.
inline qint64 ms(double seconds)
{
    return qRound64(seconds * 1000.0);
}

// Thrown by ThrowingEnd: the program ended. Catch it in the test.
struct ProgramEnded
{
};

// Ending the program unwinds to the test instead of ending the process.
class ThrowingEnd final : public ProgramEnd
{
public:
    [[noreturn]] void end() override
    {
        ++m_count;
        throw ProgramEnded {};
    }
    int count() const { return m_count; }

private:
    int m_count = 0;
};

// Records the notices instead of showing them, and the questions, which
// stay open until the test answers them.
class RecordingMessageBox final : public MessageBox
{
public:
    struct Question
    {
        QString text;
        QString detail;
        QString accept;
        QString reject;
        std::function<void(bool)> answered;
    };
    struct Notice
    {
        QString text;
        QString detail;
        bool waited = true; // false for a notice that did not wait (post)
    };
    void show(const QString& text, const QString& detail) override
    {
        m_notices.append({ text, detail });
    }
    void post(const QString& text, const QString& detail) override
    {
        m_notices.append({ text, detail, false });
    }
    const QList<Notice>& notices() const { return m_notices; }
    QStringList texts() const
    {
        QStringList list;
        for (const Notice& notice : m_notices)
            list << notice.text;
        return list;
    }
    void clear() { m_notices.clear(); }

    void ask(const QString& question, const QString& detail, const QString& accept,
        const QString& reject, std::function<void(bool accepted)> answered) override
    {
        m_questions.append({ question, detail, accept, reject, std::move(answered) });
    }
    // Every question asked, answered or not.
    const QList<Question>& questions() const { return m_questions; }
    // Answers the oldest open question: `accept` picks its accept answer.
    void answer(bool accept)
    {
        if (m_answered >= m_questions.size())
            return;
        const std::function<void(bool)> answered = m_questions.at(m_answered++).answered;
        if (answered)
            answered(accept);
    }
    int unanswered() const { return int(m_questions.size()) - m_answered; }

private:
    QList<Notice> m_notices;
    QList<Question> m_questions;
    int m_answered = 0;
};

// Records the programs it is asked to start.
class RecordingProcessStarter final : public ProcessStarter
{
public:
    bool start(const QString& program, const QStringList& arguments) override
    {
        m_started.append(QStringList { program } + arguments);
        return true;
    }
    const QList<QStringList>& started() const { return m_started; }

private:
    QList<QStringList> m_started;
};

// Collects the program's log lines (categories "ringwarden.*") for its
// lifetime, instead of printing them; other messages go on as before.
// `rules` (QLoggingCategory filter rules, "ringwarden.*=true") apply
// meanwhile; the default rules come back at the end.
class CapturedLog
{
public:
    struct Line
    {
        QtMsgType type;
        QString category;
        QString message;
    };
    explicit CapturedLog(const QString& rules = {});
    ~CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    const QList<Line>& lines() const { return m_lines; }
    // The messages of one category, in order.
    QStringList messages(const QString& category) const;

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);
    static CapturedLog* s_current;
    QtMessageHandler m_previous = nullptr;
    QList<Line> m_lines;
};

// Installs a test clock, a recording message box and process starter and a
// throwing End for its lifetime, and points the per-user folders
// (XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_RUNTIME_DIR) at a fresh temporary
// folder.
class TestRuntime
{
public:
    TestRuntime();
    ~TestRuntime();
    TestRuntime(const TestRuntime&) = delete;
    TestRuntime& operator=(const TestRuntime&) = delete;

    TestClock clock;
    RecordingMessageBox messageBox;
    RecordingProcessStarter processStarter;
    ThrowingEnd programEnd;

    QString home() const { return m_home.path(); }
    QString configHome() const { return m_home.path() + QStringLiteral("/config"); }
    QString dataHome() const { return m_home.path() + QStringLiteral("/data"); }
    QString runtimeDir() const { return m_home.path() + QStringLiteral("/run"); }

private:
    QTemporaryDir m_home;
    Runtime::Services m_previous;
    QList<QPair<QByteArray, QByteArray>> m_savedEnvironment;
};
