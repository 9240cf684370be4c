// salvo-sound-player FILE: plays one sound file and ends. The program starts it
// for the completion sound instead of playing in its own process, so that a
// broken media back-end (a missing plugin, a crash in its set-up) takes down
// only this short-lived helper, never the program with its run.
#include <QAudioOutput>
#include <QCoreApplication>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2)
        return 2;
    QMediaPlayer player;
    QAudioOutput output;
    player.setAudioOutput(&output);
    QObject::connect(&player, &QMediaPlayer::mediaStatusChanged, &app, [](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::EndOfMedia || status == QMediaPlayer::InvalidMedia)
            QCoreApplication::exit(status == QMediaPlayer::EndOfMedia ? 0 : 1);
    });
    QObject::connect(&player, &QMediaPlayer::errorOccurred, &app, [] { QCoreApplication::exit(1); });
    // A completion sound is short; whatever keeps playing is cut off.
    QTimer::singleShot(2 * 60 * 1000, &app, [] { QCoreApplication::exit(0); });
    player.setSource(QUrl::fromLocalFile(args.at(1)));
    player.play();
    return app.exec();
}
