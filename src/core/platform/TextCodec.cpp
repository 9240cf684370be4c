#include "TextCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace salvo {

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

QString decodeCp932(const QByteArray &bytes)
{
    QStringDecoder decoder("windows-31j");
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

QByteArray encodeCp932(const QString &text)
{
    QStringEncoder encoder("windows-31j");
    if (!encoder.isValid())
        return text.toLatin1();
    return encoder.encode(text);
}

QString singleLine(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0))
            c = QLatin1Char(' ');
    }
    return out;
}

QString decodeUtf8OrCp932(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (!decoder.hasError())
        return text;
    return decodeCp932(bytes);
}

} // namespace salvo
