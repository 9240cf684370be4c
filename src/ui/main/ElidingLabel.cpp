#include "ElidingLabel.h"

#include <QPainter>
#include <QStyle>

namespace salvo {

ElidingLabel::ElidingLabel(QWidget *parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

QString ElidingLabel::shownText() const
{
    // One line: a text with line breaks shows them as blanks.
    QString line = text();
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return fontMetrics().elidedText(line, Qt::ElideRight, contentsRect().width());
}

QSize ElidingLabel::sizeHint() const
{
    return {fontMetrics().averageCharWidth() * 8, QLabel::sizeHint().height()};
}

QSize ElidingLabel::minimumSizeHint() const
{
    return {0, QLabel::minimumSizeHint().height()};
}

void ElidingLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QString shown = shownText();
    style()->drawItemText(&painter, contentsRect(), QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), shown, foregroundRole());
    // The whole text where it does not fit (known only once it is laid out).
    const QString tip = shown == text() ? QString() : text();
    if (toolTip() != tip)
        setToolTip(tip);
}

} // namespace salvo
