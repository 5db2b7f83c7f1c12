#pragma once
// The identity of the connection a snapshot row belongs to: its login, host, NT domain,
// NT user and network address. The user summary's entries and the process entries keep
// it as the row that made them wrote it, in fields of these names.

#include "model/Fixedtext.h"
#include "model/Processrecord.h"

template <class Entry> bool SameIdentity(const Entry& entry, const ProcessRecord& record)
{
    return SameFixedText(entry.LoginName, record.loginame) && SameFixedText(entry.HostName, record.hostname) &&
           SameFixedText(entry.NtDomain, record.nt_domain) && SameFixedText(entry.NtUserName, record.nt_username) &&
           SameFixedText(entry.NetAddress, record.net_address);
}

template <class Entry> void TakeIdentity(Entry& entry, const ProcessRecord& record)
{
    CopyFixedText(entry.LoginName, record.loginame);
    CopyFixedText(entry.HostName, record.hostname);
    CopyFixedText(entry.NtDomain, record.nt_domain);
    CopyFixedText(entry.NtUserName, record.nt_username);
    CopyFixedText(entry.NetAddress, record.net_address);
}
