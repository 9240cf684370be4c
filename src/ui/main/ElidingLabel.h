#pragma once
// A status-bar panel whose text never widens the window: a text longer than
// the panel is shown cut with "…", and whole in its tool tip. text() is always
// the whole text.
#include <QLabel>

namespace salvo {

class ElidingLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidingLabel(QWidget *parent = nullptr);

    // The text as the panel shows it now.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace salvo
