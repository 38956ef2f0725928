#include "Qhelp.h"

#include "TextBox.h"

#include <QFile>
#include <QTextBlock>
#include <QTextCursor>

namespace {

QString helpText()
{
    QFile file(QStringLiteral(":/ringwarden/help.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll());
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
    Text1->setText(helpText());

    // The heading, the first line, is centred.
    QTextCursor heading(Text1->document()->firstBlock());
    QTextBlockFormat centred = heading.blockFormat();
    centred.setAlignment(Qt::AlignHCenter);
    heading.setBlockFormat(centred);
}
