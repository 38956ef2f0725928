#include "TextBox.h"

TextBox::TextBox(QWidget* parent)
    : QPlainTextEdit(parent)
{
    connect(this, &QPlainTextEdit::textChanged, this, &TextBox::onEdited);
}

void TextBox::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    m_assigning = true;
    setPlainText(displayForm(text));
    m_assigning = false;
    emit Change();
}

QString TextBox::displayForm(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r') {
            shown += u'\n';
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
        } else if (c == u'\n' || c == u'\t') {
            shown += c;
        } else if (c.unicode() < 0x20) {
            // U+2400 and on: the visible symbols for NUL, SOH, ...
            shown += QChar(0x2400 + c.unicode());
        } else if (c.unicode() == 0x7f) {
            shown += QChar(0x2421);
        } else {
            shown += c;
        }
    }
    return shown;
}

void TextBox::onEdited()
{
    if (m_assigning)
        return;
    const QString typed = toPlainText();
    // Formatting-only changes also report textChanged: only a different text
    // counts.
    if (typed == displayForm(m_text))
        return;
    m_text = typed;
    emit Change();
}
