#pragma once
// A real SMTP server (python3-aiosmtpd) on a free loopback port for one test, run as a
// program of its own. The messages it accepted arrive through the test's event loop
// (QTRY_ macros keep it turning).

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <utility>

struct TReceivedMail
{
    QString Helo;
    QString From;
    QStringList To;
    QByteArray Data; // as received, header lines and body
    QString Subject; // as an e-mail reader decodes it
    QString Body;    // the same
    bool DateValid = false;

    // The header lines before the first empty line, without their line ends.
    QList<QByteArray> HeaderLines() const;
    // What follows the empty line that ends the headers.
    QByteArray RawBody() const;
};

// "127.0.0.1:PORT" of a loopback port that nothing listens on: a mail host that
// refuses every connection.
QString ClosedPortHost();

class TSmtpServerFixture
{
public:
    // refuseHelo: a HELO argument the server answers with 502.
    explicit TSmtpServerFixture(const QString& refuseHelo = {});
    ~TSmtpServerFixture();
    TSmtpServerFixture(const TSmtpServerFixture&) = delete;
    TSmtpServerFixture& operator=(const TSmtpServerFixture&) = delete;

    bool Started() const { return FPort != 0; }
    QString Error() const { return FError; }
    // "127.0.0.1:PORT", as the SMTP host setting names it.
    QString Host() const;

    const QList<TReceivedMail>& Mails() const { return FMails; }
    // The mails received so far, forgotten by the fixture.
    QList<TReceivedMail> TakeMails() { return std::exchange(FMails, {}); }

private:
    void ReadMails();

    QProcess FProcess;
    QByteArray FPending;
    QList<TReceivedMail> FMails;
    quint16 FPort = 0;
    QString FError;
};
