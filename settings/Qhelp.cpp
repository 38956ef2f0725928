#include "Qhelp.h"

#include "TextBox.h"

#include <QFile>
#include <QFontMetrics>
#include <QScrollBar>
#include <algorithm>

namespace {

QString helpText()
{
    QFile file(QStringLiteral(":/ringwarden/help.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll());
}

// `text` with its first line, the heading, moved to the middle of `box` by
// leading spaces: a plain text box has no centred lines of its own.
QString centredHeading(const QString& text, const TextBox& box)
{
    const qsizetype end = text.indexOf(u'\n');
    const QString heading = text.left(end).trimmed();
    const QFontMetrics metrics(box.font());
    const int room = box.width() - 2 * box.frameWidth()
        - box.verticalScrollBar()->sizeHint().width() - 2 * int(box.document()->documentMargin());
    const int spaces = std::max(0, (room - metrics.horizontalAdvance(heading)) / 2)
        / std::max(1, metrics.horizontalAdvance(u' '));
    return QString(spaces, u' ') + heading + (end < 0 ? QString() : text.mid(end));
}

} // namespace

Qhelp::Qhelp(QWidget* parent)
    : Form(parent)
    , Text1(new TextBox(this))
{
    setWindowTitle(QStringLiteral("Ringwarden Help"));
    setWindowIcon(QIcon(QStringLiteral(":/ringwarden/icons/ringwarden-16.png")));
    setClientSizeTwips(12345, 9405);
    // Where the window manager puts new windows.
    setCentreAtFirstShow(false);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(192, 255, 255));
    setPalette(background);
    setAutoFillBackground(true);

    placeTwips(Text1, 360, 120, 11655, 8655);
    Text1->setFont(textFont(12, true));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setText(centredHeading(helpText(), *Text1));
}
