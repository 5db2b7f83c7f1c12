#include "tests/support/Smtpserverfixture.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

QList<QByteArray> TReceivedMail::HeaderLines() const
{
    const qsizetype end = Data.indexOf("\r\n\r\n");
    return Data.left(end < 0 ? Data.size() : end).replace("\r\n", "\n").split('\n');
}

QByteArray TReceivedMail::RawBody() const
{
    const qsizetype end = Data.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : Data.mid(end + 4);
}

QString ClosedPortHost()
{
    // The port the system picks for a socket bound but never listening; once closed,
    // connecting to it is refused.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));
}

TSmtpServerFixture::TSmtpServerFixture(const QString& refuseHelo)
{
    QStringList arguments{QStringLiteral(TORVANE_SMTP_SERVER_SCRIPT)};
    if (!refuseHelo.isEmpty())
        arguments << QStringLiteral("--refuse-helo") << refuseHelo;
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start(QStringLiteral(TORVANE_SYSTEM_PYTHON), arguments);
    // Started before the test goes on: waiting for its first line is part of the set-up.
    const QDeadlineTimer deadline(20000);
    while (!FPending.contains('\n') && FProcess.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
        FPending += FProcess.readAllStandardOutput();
    const qsizetype end = FPending.indexOf('\n');
    const QByteArray first = FPending.left(end);
    if (end < 0 || !first.startsWith("port ")) {
        FError = QStringLiteral("the SMTP server did not start: ") + QString::fromUtf8(first) +
                 FProcess.errorString();
        return;
    }
    FPort = first.mid(5).toUShort();
    FPending.remove(0, end + 1);
    QObject::connect(&FProcess, &QProcess::readyReadStandardOutput, [this] { ReadMails(); });
    ReadMails();
}

TSmtpServerFixture::~TSmtpServerFixture()
{
    FProcess.disconnect();
    FProcess.kill();
    FProcess.waitForFinished();
}

QString TSmtpServerFixture::Host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(FPort);
}

void TSmtpServerFixture::ReadMails()
{
    FPending += FProcess.readAllStandardOutput();
    for (qsizetype end = FPending.indexOf('\n'); end >= 0; end = FPending.indexOf('\n')) {
        const QJsonObject line = QJsonDocument::fromJson(FPending.left(end)).object();
        FPending.remove(0, end + 1);
        TReceivedMail mail;
        mail.Helo = line[QStringLiteral("helo")].toString();
        mail.From = line[QStringLiteral("from")].toString();
        for (const QJsonValue to : line[QStringLiteral("to")].toArray())
            mail.To << to.toString();
        mail.Data = QByteArray::fromBase64(line[QStringLiteral("data")].toString().toLatin1());
        mail.Subject = line[QStringLiteral("subject")].toString();
        mail.Body = line[QStringLiteral("body")].toString();
        mail.DateValid = !line[QStringLiteral("date")].isNull();
        FMails << mail;
    }
}
