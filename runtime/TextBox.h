#pragma once

#include <QPlainTextEdit>

// A text box whose text is the exact string the program assigned (control
// characters, carriage returns and NUL included) and whose Change signal
// follows the program's rules:
//  - assigning a text that differs from the current one emits Change inside
//    setText, before it returns;
//  - assigning the same text emits nothing;
//  - the user's typing emits Change for every edit that alters the text.
// What is displayed is a readable form of the text: CR LF and lone CRs break
// lines, and other control characters show as their visible symbols.
class TextBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit TextBox(QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);

    // How `text` is displayed.
    static QString displayForm(const QString& text);

signals:
    void Change();

private:
    void onEdited();

    QString m_text;
    bool m_assigning = false;
};
