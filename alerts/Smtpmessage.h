#pragma once
// The message the SMTP client sends, and how it is laid out on the wire.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

struct TPostMessage
{
    QString FromAddress;
    QString FromName;
    QStringList ToAddress; // entries as written: "dba@example.com", "DBA <dba@example.com>"
    QString Subject;
    QStringList Body; // each entry one line, or several when it holds line breaks
};

// The address RCPT TO names for a recipient entry: the text after the first "<" up to
// the next ">", else after the first ":" up to the next ":", else the whole entry.
QString RecipientAddress(const QString& entry);

// The header lines and the body as DATA sends them, up to the end-of-data line.
//
// The headers are From, To (when there is a recipient), Subject (when not empty), Date,
// Message-ID, Mime-Version and Content-Type; a blank line ends them and the body begins
// with one more, as the program's mail has always read. Pure ASCII mail names
// asciiCharset; mail with any other character is UTF-8 sent as 8bit, its subject an
// encoded word. Line breaks inside header texts become blanks, and every body line ends
// with CRLF and is dot-stuffed, so no text of the message can end the data early or
// start a header or a command of its own.
QByteArray MessageText(const TPostMessage& message, const QString& asciiCharset, const QDateTime& date,
                       const QString& messageId);

// A unique message identifier ("<...@domain>") in the domain of the sender's address,
// or of this machine when the address names none.
QString NewMessageId(const QString& fromAddress);
