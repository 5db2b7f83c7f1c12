#include "bench/Benchsnapshots.h"

#include "engine/Commonfuncs.h"
#include "model/Fixedtext.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

namespace {

struct TTextHash
{
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// The texts the snapshots' date-times were written as, with their values.
std::unordered_map<std::string, double, TTextHash, std::equal_to<>>& MadeTexts()
{
    static std::unordered_map<std::string, double, TTextHash, std::equal_to<>> texts;
    return texts;
}

std::string MadeText(double value)
{
    std::string text = DateTimeToText(value);
    MadeTexts().emplace(text, value);
    return text;
}


constexpr int SystemProcesses = 50;
constexpr double OneSecond = 1.0 / 86400.0;

const char* const Databases[] = {"master",      "tempdb",  "msdb",      "Sales",   "Inventory",
                                 "Billing",     "CRM",     "Reporting", "Staging", "Archive2019",
                                 "Archive2020", "HR",      "Payroll",   "Audit",   "Warehouse",
                                 "Orders",      "Catalog", "Search",    "Logging", "Sessions"};
const char* const ForeignDatabases[] = {"master",    "tempdb",   "msdb",      "Продажи",  "Lagerbestände",
                                        "Счета",     "Kunden",   "Отчёты",    "Übergabe", "Архив2019",
                                        "Архив2020", "Персонал", "Lohnbüro",  "Prüfung",  "Склад",
                                        "Заказы",    "Kataloge", "Suchindex", "Журнал",   "Sitzungen"};
const char* const Programs[] = {"OrderService", "Microsoft SQL Server Management Studio - Query",
                                "ReportServer", "Python DB-API",
                                "BatchLoader",  "VelquinMonitor"};
const char* const Commands[] = {"AWAITING COMMAND", "SELECT", "UPDATE", "INSERT", "DELETE", "EXECUTE"};
const char* const WaitTypes[] = {"", "PAGEIOLATCH_SH", "CXPACKET", "LCK_M_X", "ASYNC_NETWORK_IO", "WRITELOG"};

struct TProcess
{
    int Spid;
    int User;
    int Database;
    int Program;
    int Threads; // rows: ecid 0 and its workers
    bool Working;
    long long Cpu;
    long long Memory;
    long long PhysicalIo;
    double LoginTime;
    double LastBatch;
    int HostProcess;
};

} // namespace

// Packs the rows' texts one after the other as they come and makes the rows' views of
// them once the snapshot is whole (the packed texts move while they grow).
class TBenchSnapshotWriter
{
public:
    // The record's twelve texts in its order, then the two wait columns.
    static constexpr int TextCount = 14;

    void Add(const ProcessRecord& record, const std::string (&texts)[TextCount])
    {
        Snapshot.Rows.push_back({record, {}, {}});
        for (const std::string& text : texts) {
            Places.emplace_back(Snapshot.Texts.size(), text.size());
            Snapshot.Texts += text;
        }
    }

    TBenchSnapshot Take()
    {
        const char* texts = Snapshot.Texts.data();
        for (std::size_t i = 0; i < Snapshot.Rows.size(); ++i) {
            const auto* place = &Places[i * TextCount];
            const auto view = [&](int n) {
                return std::string_view(texts + place[n].first, place[n].second);
            };
            TBenchRow& row = Snapshot.Rows[i];
            ProcessRecord& r = row.Record;
            r.databasename = view(0);
            r.loginame = view(1);
            r.hostname = view(2);
            r.nt_domain = view(3);
            r.nt_username = view(4);
            r.net_address = view(5);
            r.cmd = view(6);
            r.program_name = view(7);
            r.login_time = view(8);
            r.last_batch = view(9);
            r.net_library = view(10);
            r.hostprocess = view(11);
            row.lastwaittype = view(12);
            row.waitresource = view(13);
        }
        return std::move(Snapshot);
    }

private:
    TBenchSnapshot Snapshot;
    std::vector<std::pair<std::size_t, std::size_t>> Places; // of each text in Texts
};

namespace {

class TServer
{
public:
    TServer(int rows, bool foreignNames) : Random(rows), Foreign(foreignNames)
    {
        Users = std::max(20, rows / 15);
        int spid = 1;
        for (int left = rows; left > 0; ++spid) {
            TProcess process = NewProcess(spid);
            process.Threads = std::min(process.Threads, left);
            left -= process.Threads;
            Processes.push_back(process);
        }
    }

    TBenchSnapshot Next()
    {
        Now += OneSecond;
        for (TProcess& process : Processes)
            Advance(process);
        TBenchSnapshotWriter snapshot;
        for (const TProcess& process : Processes) {
            for (int ecid = 0; ecid < process.Threads; ++ecid)
                Row(process, ecid, snapshot);
        }
        return snapshot.Take();
    }

private:
    int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(Random); }
    bool Chance(double p) { return std::bernoulli_distribution(p)(Random); }

    TProcess NewProcess(int spid)
    {
        const bool parallel = Chance(0.08);
        return TProcess{spid,
                        Pick(Users),
                        Pick(std::size(Databases)),
                        Pick(std::size(Programs)),
                        parallel ? 2 + Pick(7) : 1,
                        parallel,
                        0,
                        2 + Pick(60),
                        0,
                        Now - Pick(86400) * OneSecond,
                        Now,
                        1000 + Pick(60000)};
    }

    void Advance(TProcess& process)
    {
        if (process.Spid > SystemProcesses && Chance(0.005)) {
            // Logged off; the spid is taken by a new connection with as many threads.
            const int threads = process.Threads;
            process = NewProcess(process.Spid);
            process.Threads = threads;
        }
        process.Working = process.Threads > 1 || Chance(0.2);
        if (process.Working) {
            process.Cpu += 1 + Pick(500);
            process.PhysicalIo += Pick(40);
            process.Memory += Pick(3) - 1;
            process.LastBatch = Now;
        }
    }

    void Row(const TProcess& process, int ecid, TBenchSnapshotWriter& snapshot)
    {
        ProcessRecord r;
        const bool system = process.Spid <= SystemProcesses;
        char text[64];
        r.spid = process.Spid;
        r.ecid = ecid;
        r.blocked = process.Working && process.Spid % 97 == 0 ? process.Spid - 1 : 0;
        r.last_batch_value = process.LastBatch;
        r.cpu_usage = ecid == 0 ? process.Cpu : process.Cpu / 3 + ecid;
        r.memusage = process.Memory;
        r.physical_io = process.PhysicalIo;
        r.open_tran = process.Working ? 1 : 0;
        r.waittime = process.Working ? Pick(200) : 0;
        const int wait = process.Working ? 1 + (process.Spid + ecid) % 5 : 0;
        std::string texts[TBenchSnapshotWriter::TextCount];
        texts[0] = system    ? "<SystemProcess>"
                   : Foreign ? ForeignDatabases[process.Database]
                             : Databases[process.Database];
        std::snprintf(text, sizeof text, Foreign ? "Müller_%02d" : "app_login_%02d", process.User % 60);
        texts[1] = system ? "sa" : text;
        std::snprintf(text, sizeof text, Foreign ? "ПК-%04d" : "WEB-%04d", process.User);
        texts[2] = system ? "" : text;
        texts[3] = system || process.User % 3 ? "" : Foreign ? "КОРП" : "CORP";
        std::snprintf(text, sizeof text, Foreign ? "служба_%02d" : "svc_%02d", process.User % 60);
        texts[4] = system || process.User % 3 ? "" : text;
        std::snprintf(text, sizeof text, "00155D%06X", process.User);
        texts[5] = system ? "" : text;
        texts[6] = system ? "LAZY WRITER" : process.Working ? Commands[1 + process.Spid % 5] : Commands[0];
        texts[7] = system ? "" : Programs[process.Program];
        texts[8] = MadeText(process.LoginTime);
        texts[9] = MadeText(process.LastBatch);
        texts[10] = system ? "" : "TCP/IP";
        texts[11] = system ? "" : std::to_string(process.HostProcess);
        texts[12] = WaitTypes[wait];
        texts[13] = wait == 1 ? "5:1:104233" : "";
        snapshot.Add(r, texts);
    }

    std::mt19937 Random;
    bool Foreign;
    int Users;
    double Now = 46000.5;
    std::vector<TProcess> Processes;
};

} // namespace

std::vector<TBenchSnapshot> MakeBenchSnapshots(int rows, int refreshes, bool foreignNames)
{
    TServer server(rows, foreignNames);
    std::vector<TBenchSnapshot> snapshots;
    for (int i = 0; i < refreshes; ++i)
        snapshots.push_back(server.Next());
    return snapshots;
}

std::optional<double> MadeBenchDateTimeValue(std::string_view text)
{
    const auto made = MadeTexts().find(text);
    return made == MadeTexts().end() ? std::nullopt : std::optional<double>(made->second);
}
