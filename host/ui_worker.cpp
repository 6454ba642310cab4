#include "host/ui_worker.h"

#include "host/chosen_problems.h"
#include "host/commands.h"
#include "host/exclusion_file.h"
#include "host/explain.h"
#include "host/platform.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace host {
namespace {

using nlohmann::json;

UiWorker::Result Done(const json& value) {
    return {true, false, value.dump()};
}

UiWorker::Result Refused(std::string message) {
    return {false, false, std::move(message)};
}

// The same strict JSON that --json prints, as a value to embed.
json StrictReport(const Report& report) {
    return json::parse(ToStrictJson(report));
}

} // namespace

UiWorker::UiWorker(std::string pluginPath, MachineOptions machine)
    : m_pluginPath(std::move(pluginPath)), m_machine(std::move(machine)), m_force(m_machine.force),
      m_thread([this] { Loop(); }) {}

UiWorker::~UiWorker() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_stop = true;
    m_changed.notify_all();
    m_thread.join();
}

std::string UiWorker::Activity(double* seconds) const {
    std::lock_guard lock(m_mutex);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_started;
    *seconds = m_activity ? elapsed.count() : 0;
    return m_activity ? m_activity : "";
}

UiWorker::Result UiWorker::Submit(const char* activity, Work work) {
    std::unique_lock lock(m_mutex);
    if (m_activity)
        return {false, true, std::string("the machine is busy: a ") + m_activity +
                                 " is running; wait for it to end or stop it"};
    m_activity = activity;
    m_started = std::chrono::steady_clock::now();
    m_stop = false;
    m_work = std::move(work);
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_hasResult; });
    m_hasResult = false;
    m_activity = nullptr;
    return std::move(m_result);
}

void UiWorker::Loop() {
    std::string error;
    auto plugin = LoadPlugin(m_pluginPath, &error);
    std::unique_ptr<Session> session;
    if (plugin) {
        session = std::make_unique<Session>(plugin->Entry());
        if (!session->Valid())
            error = "GetPluginEngine returned no engine";
    }
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || m_work; });
        if (m_quit)
            break;
        Work work = std::move(m_work);
        m_work = nullptr;
        lock.unlock();
        Result result = error.empty() ? Refused("") : Refused(error);
        if (error.empty()) {
            try {
                result = work(*session);
            } catch (const std::exception& failure) {
                result = Refused(failure.what());
            }
        }
        lock.lock();
        m_result = std::move(result);
        m_hasResult = true;
        m_changed.notify_all();
    }
    lock.unlock();
    session.reset(); // the engine goes before its library
}

// Every scan, fix, undo and exclusion of the page passes through here and
// nowhere else. It holds the machine's lock, as any command that changes the
// machine does, around reading the machine afresh from disk (so what another
// program changed since, a CLI fix or an installer, is seen), the operation
// and its save: the page never saves a machine it read before the lock.
UiWorker::Result UiWorker::OnFreshMachine(Session& session, const char* command,
                                          const std::function<Result(Session&)>& operation) {
    std::string error;
    const std::unique_ptr<MachineLock> lock = LockMachine(m_machine, command, false, &error);
    if (!lock)
        return {false, true, error};
    if (!ReloadMachine(&error))
        return Refused(error);
    return operation(session);
}

UiWorker::Result UiWorker::RunEngine(Session& session, int mode, const std::string& request,
                                     std::string* report) {
    HRESULT started = S_OK;
    switch (session.Run(mode, request, m_stop, nullptr, report, &started)) {
    case Session::Outcome::Report:
        return {true, false, {}};
    case Session::Outcome::Interrupted:
        return Refused("stopped: the engine was stopped and made no report");
    case Session::Outcome::StartFailed:
        break;
    }
    return Refused(StartRefusal(started));
}

UiWorker::Result UiWorker::Scan() {
    return Submit("scan", [this](Session& session) {
        return OnFreshMachine(session, "scan", [this](Session& session) {
            std::string text, error;
            if (Result run = RunEngine(session, 0, "{}", &text); !run.ok)
                return run;
            Report report;
            if (!ParseReport(text, &report, &error))
                return Refused(error);
            json sections = json::array();
            for (int section = 0; section <= 10; ++section)
                sections.push_back(SectionName(std::to_string(section)));
            json answer = {{"scan", ++m_scanNumber}, {"report", StrictReport(report)},
                           {"sections", sections}};
            m_seen = std::move(report);
            if (!RememberScan(m_pluginPath, text, &error))
                answer["warning"] = "this scan could not be remembered (" + error +
                                    "), so the command line's fix --select refuses until a scan is";
            return Done(answer);
        });
    });
}

UiWorker::Result UiWorker::Fix(long scanNumber, const std::vector<int>& ids) {
    return Submit("fix", [this, scanNumber, ids](Session& session) {
        if (scanNumber != m_scanNumber || m_scanNumber == 0)
            return Refused("this list is out of date: a newer scan replaced it. Nothing was "
                           "fixed; choose again from the list now shown");
        return OnFreshMachine(session, "fix", [this, &ids](Session& session) {
            std::string text, error, missing;
            if (Result run = RunEngine(session, 0, "{}", &text); !run.ok)
                return run;
            Report fresh, fixes;
            std::vector<int> freshIds;
            if (!ParseReport(text, &fresh, &error))
                return Refused(error);
            if (!MatchChosen(m_seen, ids, fresh, &freshIds, &missing))
                return Refused(missing + " is no longer found: the machine changed since the "
                                         "scan. Nothing was fixed; scan again and choose again");
            if (!MachineAcceptsChanges(m_force, KeyPathsOf(fresh, freshIds), &error))
                return Refused(error);
            const std::string folder = UndoFolder(m_pluginPath);
            const std::vector<std::string> before = UndoFiles(folder);
            BeginUndoJournal(folder, &error); // as on the command line
            if (Result run = RunEngine(session, 1, FixRequest(freshIds), &text); !run.ok)
                return run;
            if (!ParseReport(text, &fixes, &error))
                return Refused(error);
            // As on the command line: repairs made before a failure are kept
            // and saved (their old state is in the undo file).
            json answer = {{"report", StrictReport(fixes)}};
            const std::string failure = Member(fixes.members, "error");
            const bool repaired =
                std::any_of(fixes.entries.begin(), fixes.entries.end(),
                            [](const Members& e) { return Member(e, "fixed") == "true"; });
            const bool saving = failure.empty() || repaired;
            if (saving && !SaveMachine(&error))
                return Refused(error);
            if (!failure.empty())
                answer["failed"] = "the fix failed: " + failure;
            for (const auto& name : UndoFiles(folder)) {
                if (std::find(before.begin(), before.end(), name) != before.end())
                    continue;
                answer["undo file"] = name;
                if (saving && !RecordInJournal(folder, name, false, &error))
                    answer["failed"] = "the fix is saved, but " + error +
                                       ": its backup is not listed; restore its file by path";
            }
            return Done(answer);
        });
    });
}

UiWorker::Result UiWorker::Explain(long scanNumber, int id) {
    return Submit("explanation", [this, scanNumber, id](Session&) {
        if (scanNumber != m_scanNumber || id < 0 || static_cast<size_t>(id) >= m_seen.entries.size())
            return Refused("this list is out of date: scan again");
        const Members& problem = m_seen.entries[id];
        const std::string valueName = Member(problem, "value name");
        json lines = json::array();
        if (valueName.empty())
            lines.push_back("the key itself is reported: it names nothing that exists");
        else
            lines = ExplainValue(problem);
        return Done(json{{"lines", lines}});
    });
}

UiWorker::Result UiWorker::Backups() {
    return Submit("listing of backups", [this](Session&) {
        json files = json::array();
        for (const UndoFileInfo& file : DescribeUndoFiles(UndoFolder(m_pluginPath)))
            files.push_back({{"file", file.name}, {"date", file.date}, {"bytes", file.bytes},
                             {"keys", file.keys}, {"values", file.values},
                             {"restored", file.restored}});
        return Done(json{{"backups", files}});
    });
}

UiWorker::Result UiWorker::Restore(const std::string& fileName) {
    return Submit("restore", [this, fileName](Session& session) {
        return OnFreshMachine(session, "undo", [this, &fileName](Session&) {
            // Only a file of the list: a name from the page never becomes a path.
            const std::string folder = UndoFolder(m_pluginPath);
            const auto names = UndoFiles(folder);
            if (std::find(names.begin(), names.end(), fileName) == names.end())
                return Refused("no undo file called \"" + fileName + "\"");
            std::string said, error;
            if (!RestoreUndoFile(LocalPathFor(folder + "\\" + fileName), m_force, &said, &error))
                return Refused(error);
            if (!RecordInJournal(folder, fileName, true, &error))
                said += "; but " + error;
            return Done(json{{"said", said}});
        });
    });
}

UiWorker::Result UiWorker::Exclusions() {
    return Submit("listing of exclusions", [this](Session&) {
        std::vector<std::string> keys;
        std::string error;
        if (!ReadExclusions(m_pluginPath, &keys, &error))
            return Refused(error);
        return Done(json{{"excluded", keys}});
    });
}

UiWorker::Result UiWorker::ChangeExclusion(const std::string& keyPath, bool add) {
    return Submit("change of exclusions", [this, keyPath, add](Session& session) {
        return OnFreshMachine(session, "exclude", [this, &keyPath, add](Session&) {
            std::string error, said;
            const std::string key = ExclusionKeyPath(keyPath, &error);
            if (key.empty() || !ChangeExclusions(m_pluginPath, key, add, &said, &error))
                return Refused(error);
            return Done(json{{"said", said}});
        });
    });
}

} // namespace host
