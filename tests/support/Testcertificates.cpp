#include "tests/support/Testcertificates.h"

#include <QFile>
#include <QProcess>

TTestCertificates::TTestCertificates()
{
    if (!FDir.isValid()) {
        FError = FDir.errorString();
        return;
    }
    QFile extensions(FDir.filePath(QStringLiteral("server.ext")));
    if (!extensions.open(QIODevice::WriteOnly) ||
        extensions.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                         "extendedKeyUsage=serverAuth\n") < 0) {
        FError = extensions.errorString();
        return;
    }
    extensions.close();
    const auto authority = [](const QString& name, const QString& key, const QString& certificate) {
        return QStringList{QStringLiteral("req"),
                           QStringLiteral("-x509"),
                           QStringLiteral("-newkey"),
                           QStringLiteral("rsa:2048"),
                           QStringLiteral("-nodes"),
                           QStringLiteral("-days"),
                           QStringLiteral("2"),
                           QStringLiteral("-subj"),
                           QStringLiteral("/CN=") + name,
                           QStringLiteral("-keyout"),
                           key,
                           QStringLiteral("-out"),
                           certificate};
    };
    const QString path = FDir.path() + QLatin1Char('/');
    Run(authority(QStringLiteral("Torvane Test CA"), path + QStringLiteral("ca.key"), CaFile())) &&
        Run(authority(QStringLiteral("Unrelated Test CA"), path + QStringLiteral("other-ca.key"),
                      OtherCaFile())) &&
        Run({QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
             QStringLiteral("-nodes"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost"),
             QStringLiteral("-keyout"), KeyFile(), QStringLiteral("-out"),
             path + QStringLiteral("server.csr")}) &&
        Run({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
             path + QStringLiteral("server.csr"), QStringLiteral("-CA"), CaFile(), QStringLiteral("-CAkey"),
             path + QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"), QStringLiteral("-days"),
             QStringLiteral("2"), QStringLiteral("-extfile"), extensions.fileName(), QStringLiteral("-out"),
             CertificateFile()});
}

bool TTestCertificates::Run(const QStringList& arguments)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        FError =
            QStringLiteral("openssl %1 failed: %2 %3")
                .arg(arguments.first(), openssl.errorString(), QString::fromLocal8Bit(openssl.readAll()));
        return false;
    }
    return true;
}
