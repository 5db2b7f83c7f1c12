#include "alerts/Smtpmessage.h"

#include <QSysInfo>
#include <QUuid>

#include <algorithm>

namespace {

// Bytes of text per encoded word: 45 bytes are 60 in base64, and with "=?utf-8?B?" and
// "?=" the word stays within the 75 characters an encoded word may have.
constexpr qsizetype EncodedWordBytes = 45;

bool IsAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

QString OneLine(QString text)
{
    for (QChar& c : text) {
        if (c == u'\r' || c == u'\n')
            c = u' ';
    }
    return text;
}

// Base64 encoded words, folded onto continuation lines, never splitting a character.
QByteArray EncodedWords(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArrayList words;
    for (qsizetype start = 0; start < utf8.size();) {
        qsizetype end = std::min(start + EncodedWordBytes, utf8.size());
        while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
            --end;
        words << "=?utf-8?B?" + utf8.mid(start, end - start).toBase64() + "?=";
        start = end;
    }
    return words.join("\r\n ");
}

// Letters, digits, dots and hyphens, beginning and ending with a letter or digit.
bool IsDomain(const QString& text)
{
    const auto alphanumeric = [](QChar c) { return c.unicode() < 0x80 && c.isLetterOrNumber(); };
    return !text.isEmpty() && alphanumeric(text.front()) && alphanumeric(text.back()) &&
           std::all_of(text.begin(), text.end(),
                       [&](QChar c) { return alphanumeric(c) || c == u'.' || c == u'-'; });
}

// The lines of a body entry, whichever line ends it uses.
QStringList Lines(const QString& entry)
{
    QString text = entry;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return text.split(u'\n');
}

} // namespace

QString RecipientAddress(const QString& entry)
{
    for (const QChar open : {u'<', u':'}) {
        const qsizetype start = entry.indexOf(open);
        if (start < 0)
            continue;
        const QChar close = open == u'<' ? u'>' : u':';
        const qsizetype end = entry.indexOf(close, start + 1);
        return entry.mid(start + 1, end < 0 ? -1 : end - start - 1);
    }
    return entry;
}

QByteArray MessageText(const TPostMessage& message, const QString& asciiCharset, const QDateTime& date,
                       const QString& messageId)
{
    const bool ascii =
        IsAscii(message.Subject) && std::all_of(message.Body.begin(), message.Body.end(), IsAscii);
    QByteArrayList headers;
    headers << "From: " + OneLine(message.FromName).toUtf8() + '<' + OneLine(message.FromAddress).toUtf8() +
                   '>';
    if (!message.ToAddress.isEmpty())
        headers << "To: " + OneLine(message.ToAddress.join(u',')).toUtf8();
    if (!message.Subject.isEmpty()) {
        const QString subject = OneLine(message.Subject);
        headers << "Subject: " + (ascii ? subject.toLatin1() : EncodedWords(subject));
    }
    headers << "Date: " + date.toString(Qt::RFC2822Date).toLatin1();
    headers << "Message-ID: " + messageId.toLatin1();
    headers << "Mime-Version: 1.0";
    if (ascii) {
        headers << "Content-Type: text/plain; charset=" + asciiCharset.toLatin1();
    } else {
        headers << "Content-Type: text/plain; charset=utf-8";
        headers << "Content-Transfer-Encoding: 8bit";
    }

    QByteArray text = headers.join("\r\n") + "\r\n\r\n\r\n";
    for (const QString& entry : message.Body) {
        for (const QString& line : Lines(entry)) {
            if (line.startsWith(u'.'))
                text += '.';
            text += line.toUtf8() + "\r\n";
        }
    }
    return text;
}

QString NewMessageId(const QString& fromAddress)
{
    QString domain = fromAddress.mid(fromAddress.lastIndexOf(u'@') + 1).remove(u'>').trimmed();
    if (!fromAddress.contains(u'@') || !IsDomain(domain))
        domain = QSysInfo::machineHostName();
    if (!IsDomain(domain))
        domain = QStringLiteral("localhost");
    return u'<' + QUuid::createUuid().toString(QUuid::WithoutBraces) + u'@' + domain + u'>';
}
