#pragma once
// A backend for protocol tests: one account (sa / torvane), answers set by the test
// per batch text, and a record of what the protocol side called. Lets the wire
// format be checked against independent clients without the simulation's rules.

#include "sandbox/Sandboxtypes.h"

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

class TFakeBackend : public sandbox::Backend
{
public:
    static constexpr int FirstSpid = 51;

    // The answer to a batch of this text (blanks around it aside); delayMs makes it slow.
    void SetAnswer(const std::string& sql, sandbox::BatchResult result, int delayMs = 0)
    {
        const std::lock_guard lock(FMutex);
        FAnswers[sql] = {std::move(result), delayMs};
    }

    sandbox::LoginResult Login(const sandbox::LoginRequest& request) override
    {
        const std::lock_guard lock(FMutex);
        FLogins.push_back(request);
        sandbox::LoginResult result;
        if (request.userName != "sa" || request.password != "torvane") {
            result.error.number = 18456;
            result.error.severity = 14;
            result.error.text = "Login failed for user '" + request.userName + "'.";
            return result;
        }
        result.ok = true;
        result.spid = FNextSpid++;
        result.database = "master";
        FActive[result.spid] = true;
        return result;
    }

    void Logout(int spid) override
    {
        const std::lock_guard lock(FMutex);
        FActive.erase(spid);
    }

    sandbox::BatchResult ExecuteBatch(int spid, const std::string& sql) override
    {
        Answer answer;
        {
            const std::lock_guard lock(FMutex);
            FBatches.emplace_back(spid, sql);
            const auto found = FAnswers.find(Trimmed(sql));
            if (found == FAnswers.end()) {
                sandbox::Message error;
                error.number = 102;
                error.text = "Incorrect syntax near '" + sql.substr(0, 20) + "'.";
                answer.result.items.push_back(error);
            } else {
                answer = found->second;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
        return answer.result;
    }

    std::vector<sandbox::LoginRequest> Logins() const
    {
        const std::lock_guard lock(FMutex);
        return FLogins;
    }
    std::vector<std::pair<int, std::string>> Batches() const
    {
        const std::lock_guard lock(FMutex);
        return FBatches;
    }
    int ActiveSessions() const
    {
        const std::lock_guard lock(FMutex);
        return static_cast<int>(FActive.size());
    }

private:
    static std::string Trimmed(const std::string& text)
    {
        const auto first = text.find_first_not_of(" \t\r\n");
        const auto last = text.find_last_not_of(" \t\r\n");
        return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    }

    struct Answer
    {
        sandbox::BatchResult result;
        int delayMs = 0;
    };
    mutable std::mutex FMutex;
    std::map<std::string, Answer> FAnswers;
    std::vector<sandbox::LoginRequest> FLogins;
    std::vector<std::pair<int, std::string>> FBatches;
    std::map<int, bool> FActive;
    int FNextSpid = FirstSpid;
};
