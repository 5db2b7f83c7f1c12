#pragma once
// The two kinds of failure of the SMTP client. Callers tell them apart: a socket error
// (the name gives no address, the connection fails, a socket call fails or a wait runs
// out) means the mail server could not be talked to; a plain error means the server
// refused what it was asked, or the message was not complete.

#include <QString>

#include <exception>
#include <string>

class ESmtpFailure : public std::exception
{
public:
    const QString& Text() const { return FText; }
    const char* what() const noexcept override { return FUtf8.c_str(); }

protected:
    explicit ESmtpFailure(QString text) : FText(std::move(text)), FUtf8(FText.toStdString()) {}

private:
    QString FText;
    std::string FUtf8;
};

class ESmtpSocketError : public ESmtpFailure
{
public:
    explicit ESmtpSocketError(QString text) : ESmtpFailure(std::move(text)) {}
    // "code:description" from the platform's error number, e.g. "111:Connection refused";
    // "Unknown Error No. code" for a number the platform has no description of.
    static ESmtpSocketError FromCode(int code);
};

class ESmtpError : public ESmtpFailure
{
public:
    explicit ESmtpError(QString text) : ESmtpFailure(std::move(text)) {}
};
