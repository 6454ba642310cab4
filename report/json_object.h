// The one JSON structure of the engine: a hash table from member name to
// value text, and an array of such tables.
//
// There is no tree of typed values. Numbers are stored as their decimal text,
// and an array member holds the finished JSON text of the array, starting
// with "[". The order in which members come out is the table's iteration
// order (buckets ascending, newest first within a bucket), not insertion
// order: hosts parse our reports by position as well as by name, so the hash
// function, the bucket counts and the chain order below fix the bytes of
// every report and must not change.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

struct JsonMember {
    std::string name;
    std::string value;
};

class JsonObject {
public:
    static constexpr DWORD kInitialBucketCount = 17;

    JsonObject() = default;
    JsonObject(JsonObject&&) noexcept = default;
    JsonObject& operator=(JsonObject&&) noexcept = default;
    // A copy must re-insert (and re-trim) its members: use CopyObject.
    JsonObject(const JsonObject&) = delete;
    JsonObject& operator=(const JsonObject&) = delete;

    // The member of that name (compared byte for byte), or null. The pointer
    // stays valid until the next insertion or RemoveAll.
    const JsonMember* Lookup(std::string_view name) const;

    // The member of that name; a new member gets an empty value and the head
    // of its bucket's chain. The reference stays valid until the next
    // insertion or RemoveAll.
    JsonMember& GetOrInsert(std::string_view name);

    // Stores the value exactly as given; an existing member keeps its place.
    void Set(std::string_view name, std::string_view value);

    // Frees every member and the bucket array; the bucket count stays, so a
    // table that has grown keeps its size for the next filling.
    void RemoveAll();

    // Visits the members in output order: visit(const JsonMember&).
    template <typename Visitor> void ForEach(Visitor&& visit) const {
        for (DWORD head : m_buckets) {
            for (DWORD node = head; node != kNoNode; node = m_nodes[node].next)
                visit(m_nodes[node].member);
        }
    }

    DWORD Count() const { return static_cast<DWORD>(m_nodes.size()); }
    bool IsEmpty() const { return m_nodes.empty(); }

    // hash = hash * 33 + byte, each byte taken as a signed char, modulo 2^32.
    static DWORD HashName(std::string_view name);

private:
    static constexpr DWORD kNoNode = 0xFFFFFFFF;

    struct Node {
        JsonMember member;
        DWORD hash = 0;
        DWORD next = kNoNode;
    };

    DWORD FindNode(std::string_view name, DWORD hash) const;
    void GrowIfOverloaded();
    void Rebuild(DWORD newBucketCount);

    // Nodes are only ever removed all at once, so they live in one vector
    // and chains link them by index.
    std::vector<Node> m_nodes;
    std::vector<DWORD> m_buckets; // chain heads; empty until the first insertion
    DWORD m_dwBucketCount = kInitialBucketCount;
    DWORD m_dwHighRehashLimit = RehashLimit(kInitialBucketCount);

    static DWORD RehashLimit(DWORD bucketCount);
};

// The bucket count for a table about to hold `memberCount` members: the first
// listed prime not below memberCount / 0.75, 17 at least.
DWORD PickBucketCount(DWORD memberCount);

// A fresh table holding the source's members, re-inserted in the source's
// iteration order with SetString. Members that share a bucket therefore come
// out of the copy in reverse order, which the reports' member order relies on.
JsonObject CopyObject(const JsonObject& source);

// A growable array of objects, each a CopyObject of what was added.
class JsonObjectArray {
public:
    void Add(const JsonObject& object);

    DWORD Size() const { return static_cast<DWORD>(m_elements.size()); }
    const JsonObject& operator[](DWORD index) const { return m_elements[index]; }
    auto begin() const { return m_elements.begin(); }
    auto end() const { return m_elements.end(); }

private:
    void GrowFor(DWORD newSize);

    std::vector<JsonObject> m_elements;
    DWORD m_dwCapacity = 0;
};
