#pragma once
// Answers the next modal window that opens: records its title, text and
// filters, then closes it (or hands it to `act`). It reacts to the window
// being shown, however long that takes, and never outlives its test. `match`
// narrows which window it waits for (any modal one by default).
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace salvo::test {

class ModalWatcher : public QObject {
public:
    QString title, text;
    QStringList filters;

    ~ModalWatcher() override { qApp->removeEventFilter(this); }
    void arm(std::function<void(QWidget *)> act = {},
             std::function<bool(QWidget *)> match = [](QWidget *w) { return w->isModal(); })
    {
        m_act = std::move(act);
        m_match = std::move(match);
        qApp->installEventFilter(this);
    }
    bool answered() const { return m_answered; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *w = qobject_cast<QWidget *>(watched);
        if (!m_window && event->type() == QEvent::Show && w && w->isWindow() && m_match(w)) {
            m_window = w;
            // Answered once its own event loop runs.
            QTimer::singleShot(0, this, &ModalWatcher::answer);
        }
        return false;
    }

private:
    void answer()
    {
        if (!m_window || !m_window->isVisible() || m_answering)
            return;
        title = m_window->windowTitle();
        if (auto *box = qobject_cast<QMessageBox *>(m_window))
            text = box->text();
        if (auto *dialog = qobject_cast<QFileDialog *>(m_window))
            filters = dialog->nameFilters();
        m_answering = true;
        if (m_act)
            m_act(m_window);
        else
            m_window->close();
        m_answering = false;
        m_answered = true;
        // A dialog still busy loading may ignore the first answer: again until it is gone.
        QTimer::singleShot(20, this, &ModalWatcher::answer);
    }

    std::function<void(QWidget *)> m_act;
    std::function<bool(QWidget *)> m_match;
    QPointer<QWidget> m_window;
    bool m_answering = false, m_answered = false;
};

// Closes every modal window as it opens (a notice, a question, a folder
// choice), for as long as it lives.
class ModalCloser : public QObject {
public:
    ModalCloser() { qApp->installEventFilter(this); }
    ~ModalCloser() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *w = qobject_cast<QWidget *>(watched);
        if (event->type() == QEvent::Show && w && w->isWindow() && w->isModal())
            closeSoon(w);
        return false;
    }

private:
    void closeSoon(QWidget *w)
    {
        QTimer::singleShot(0, this, [this, window = QPointer<QWidget>(w)] {
            if (!window || !window->isVisible())
                return;
            window->close();
            // A dialog still busy loading may ignore it: again until it is gone.
            if (window && window->isVisible())
                QTimer::singleShot(20, this, [this, window] {
                    if (window)
                        closeSoon(window);
                });
        });
    }
};

} // namespace salvo::test
