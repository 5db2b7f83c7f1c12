#include "alerts/Smtperror.h"

#include <cstring>

ESmtpSocketError ESmtpSocketError::FromCode(int code)
{
    // The untranslated description: a mail server's error reads the same on every machine.
    if (const char* description = ::strerrordesc_np(code))
        return ESmtpSocketError(QString::number(code) + u':' + QString::fromUtf8(description));
    return ESmtpSocketError(QStringLiteral("Unknown Error No. ") + QString::number(code));
}
