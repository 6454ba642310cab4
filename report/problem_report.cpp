#include "report/problem_report.h"

#include "report/json_writer.h"

#include <array>
#include <charconv>

namespace {

// Where "user name" goes in. The insertion order matters beyond the table's
// buckets: in the scan report "user name" must go in before "new value",
// which shares its bucket, and the fix report has always put it after
// "key path"; hosts find the members in the order they expect.
enum class UserNamePlace { BeforeKeyPath, AfterKeyPath };

struct MemberText {
    std::string_view name;
    std::string_view value;
};

// A problem's members, at most six, in the order they go into its object.
struct ProblemMembers {
    std::array<MemberText, 6> members;
    size_t count = 0;
    // Which of the optional members are there: the members' order follows
    // from it alone.
    unsigned shape = 0;

    void Add(std::string_view name, std::string_view value, unsigned shapeBit = 0) {
        members[count++] = MemberText{name, value};
        shape |= shapeBit;
    }
};

// `id` and `section` are decimal texts; `userName` stays alive with them.
ProblemMembers MembersOf(const ProblemRecord& record, std::string_view id,
                         std::string_view section, const std::string& userName,
                         UserNamePlace place) {
    ProblemMembers out;
    out.Add("id", id);
    out.Add("section", section);
    if (place == UserNamePlace::AfterKeyPath)
        out.Add("key path", record.keyPath);
    if (!userName.empty())
        out.Add("user name", userName, 1);
    if (place == UserNamePlace::BeforeKeyPath)
        out.Add("key path", record.keyPath);
    if (!record.valueName.empty()) {
        out.Add("value name", record.valueName, 2);
        if (!record.newValue.empty())
            out.Add("new value", record.newValue, 4);
    }
    return out;
}

// Decimal text of a number, kept in place.
struct Decimal {
    explicit Decimal(unsigned long long number) {
        length = static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, number).ptr -
                                     digits);
    }
    std::string_view Text() const { return std::string_view(digits, length); }
    char digits[24];
    size_t length;
};

JsonObject ObjectOf(const ProblemMembers& problem) {
    JsonObject object;
    for (size_t i = 0; i < problem.count; ++i)
        SetString(object, problem.members[i].name, problem.members[i].value);
    return object;
}

JsonObject ProblemObject(const ProblemRecord& record, size_t id, CUserNameCache& users,
                         UserNamePlace place) {
    const std::string userName = users.NameForKeyPath(record.keyPath);
    const Decimal number(id);
    const Decimal section(static_cast<DWORD>(record.section));
    return ObjectOf(MembersOf(record, number.Text(), section.Text(), userName, place));
}

// The order in which each shape of problem comes out of a report's array:
// the iteration order of the copy the array keeps of its object. Found from
// the objects themselves, once a shape, so the bytes stay theirs.
class MemberOrders {
public:
    const std::array<size_t, 6>& For(const ProblemMembers& problem) {
        if (!m_known[problem.shape]) {
            const JsonObject copy = CopyObject(ObjectOf(problem));
            size_t next = 0;
            copy.ForEach([&](const JsonMember& member) {
                for (size_t i = 0; i < problem.count; ++i) {
                    if (problem.members[i].name == member.name)
                        m_orders[problem.shape][next++] = i;
                }
            });
            m_known[problem.shape] = true;
        }
        return m_orders[problem.shape];
    }

private:
    std::array<std::array<size_t, 6>, 8> m_orders{};
    std::array<bool, 8> m_known{};
};

// The array of problems, written as SetArray writes the objects a
// JsonObjectArray holds, without building them: a scan of a key of many
// values reports hundreds of thousands.
void AppendProblemArray(std::string& out, const ProblemList& problems, CUserNameCache& users) {
    size_t size = out.size() + 2;
    for (const ProblemRecord& record : problems)
        size += record.keyPath.size() + record.valueName.size() + record.newValue.size() + 96;
    out.reserve(size);
    MemberOrders orders;
    out += '[';
    for (size_t position = 0; position < problems.size(); ++position) {
        const ProblemRecord& record = problems[position];
        const std::string userName = users.NameForKeyPath(record.keyPath);
        const Decimal number(position);
        const Decimal section(static_cast<DWORD>(record.section));
        const ProblemMembers problem = MembersOf(record, number.Text(), section.Text(), userName,
                                                 UserNamePlace::BeforeKeyPath);
        const std::array<size_t, 6>& order = orders.For(problem);
        out += position == 0 ? "{" : ",{";
        for (size_t i = 0; i < problem.count; ++i) {
            const MemberText& member = problem.members[order[i]];
            if (i != 0)
                out += ", ";
            AppendMemberText(out, member.name, base::Trim(member.value, base::kSpaces));
        }
        out += '}';
    }
    out += ']';
}

// The report's document, "finished" and the list, in the document object's
// order; the list is written in place by `appendList`.
template <class AppendList>
std::string DocumentText(std::string_view kind, std::string_view listName, AppendList appendList) {
    JsonObject document;
    SetString(document, "finished", kind);
    document.Set(listName, "[");
    std::string out = "{";
    const char* separator = "";
    document.ForEach([&](const JsonMember& member) {
        out += separator;
        separator = ", ";
        if (member.name != listName) {
            AppendMemberText(out, member.name, member.value);
            return;
        }
        out += '"';
        out += listName;
        out += "\": ";
        appendList(out);
    });
    out += "}\n";
    return out;
}

std::string ReportText(std::string_view kind, std::string_view listName,
                       const JsonObjectArray& list, std::string_view error) {
    JsonObject document;
    SetString(document, "finished", kind);
    SetArray(document, listName, list);
    if (!error.empty())
        SetString(document, "error", error);
    return Serialize(document);
}

} // namespace

std::string ScanReportText(const ProblemList& problems, CUserNameCache& users) {
    return DocumentText("scan", "problems",
                        [&](std::string& out) { AppendProblemArray(out, problems, users); });
}

std::string FailedScanReportText(std::string_view error) {
    return ReportText("scan", "problems", JsonObjectArray(), error);
}

JsonObject FixResultObject(const ProblemRecord& record, size_t id, CUserNameCache& users,
                           bool fixed) {
    JsonObject result = ProblemObject(record, id, users, UserNamePlace::AfterKeyPath);
    SetString(result, "fixed", fixed ? "true" : "false");
    return result;
}

std::string FixReportText(const JsonObjectArray& fixes, std::string_view error) {
    return ReportText("fix", "fixes", fixes, error);
}

std::string FailedFixReportText(std::string_view error) {
    return FixReportText(JsonObjectArray(), error);
}
