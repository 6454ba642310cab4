#include "report/json_object.h"

#include "report/json_writer.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace {

// Load factors of the table. They are floats on purpose: the truncated
// products decide when a report's table grows, and with it the member order.
constexpr float kOptimalLoad = 0.75f;
constexpr float kHighLoad = 2.25f;

// The smallest prime above 2^(4 + k/3), for k = 0 to 59.
constexpr DWORD kBucketPrimes[] = {
    17,      23,      29,      37,      41,      53,      67,      83,      103,      131,
    163,     211,     257,     331,     409,     521,     647,     821,     1031,     1291,
    1627,    2053,    2591,    3251,    4099,    5167,    6521,    8209,    10331,    13007,
    16411,   20663,   26017,   32771,   41299,   52021,   65537,   82571,   104033,   131101,
    165161,  208067,  262147,  330287,  416147,  524309,  660563,  832291,  1048583,  1321139,
    1664543, 2097169, 2642257, 3329023, 4194319, 5284493, 6658049, 8388617, 10568993, 13316089,
};

} // namespace

DWORD JsonObject::HashName(std::string_view name) {
    DWORD hash = 0;
    for (char c : name)
        hash = hash * 33 + static_cast<DWORD>(static_cast<int>(static_cast<signed char>(c)));
    return hash;
}

DWORD JsonObject::RehashLimit(DWORD bucketCount) {
    return static_cast<DWORD>(static_cast<float>(bucketCount) * kHighLoad);
}

DWORD PickBucketCount(DWORD memberCount) {
    const float exact = static_cast<float>(memberCount) / kOptimalLoad;
    // Only a table of billions of members gets here; it cannot be allocated.
    if (exact >= 4294967296.0f)
        throw std::bad_alloc();
    const DWORD estimate = static_cast<DWORD>(exact);
    if (estimate <= JsonObject::kInitialBucketCount)
        return JsonObject::kInitialBucketCount;
    const DWORD* prime =
        std::lower_bound(std::begin(kBucketPrimes), std::end(kBucketPrimes), estimate);
    return prime == std::end(kBucketPrimes) ? estimate : *prime;
}

DWORD JsonObject::FindNode(std::string_view name, DWORD hash) const {
    if (m_buckets.empty())
        return kNoNode;
    DWORD node = m_buckets[hash % m_dwBucketCount];
    while (node != kNoNode && (m_nodes[node].hash != hash || m_nodes[node].member.name != name))
        node = m_nodes[node].next;
    return node;
}

const JsonMember* JsonObject::Lookup(std::string_view name) const {
    const DWORD node = FindNode(name, HashName(name));
    return node == kNoNode ? nullptr : &m_nodes[node].member;
}

JsonMember& JsonObject::GetOrInsert(std::string_view name) {
    const DWORD hash = HashName(name);
    const DWORD existing = FindNode(name, hash);
    if (existing != kNoNode)
        return m_nodes[existing].member;

    if (m_nodes.size() >= kNoNode)
        throw std::bad_alloc();
    if (m_buckets.empty())
        m_buckets.assign(m_dwBucketCount, kNoNode);
    const DWORD node = static_cast<DWORD>(m_nodes.size());
    DWORD& head = m_buckets[hash % m_dwBucketCount];
    m_nodes.push_back(Node{JsonMember{std::string(name), std::string()}, hash, head});
    head = node;
    GrowIfOverloaded();
    return m_nodes[node].member;
}

void JsonObject::Set(std::string_view name, std::string_view value) {
    GetOrInsert(name).value.assign(value);
}

void JsonObject::GrowIfOverloaded() {
    if (Count() > m_dwHighRehashLimit)
        Rebuild(PickBucketCount(Count()));
}

// Old chains are walked in bucket order from their heads and every node is
// pushed onto the head of its new chain, so members that stay together in a
// bucket swap their order: the reports' bytes depend on exactly this walk.
void JsonObject::Rebuild(DWORD newBucketCount) {
    std::vector<DWORD> buckets(newBucketCount, kNoNode);
    for (DWORD head : m_buckets) {
        DWORD node = head;
        while (node != kNoNode) {
            Node& moving = m_nodes[node];
            const DWORD next = moving.next;
            DWORD& newHead = buckets[moving.hash % newBucketCount];
            moving.next = newHead;
            newHead = node;
            node = next;
        }
    }
    m_buckets.swap(buckets);
    m_dwBucketCount = newBucketCount;
    m_dwHighRehashLimit = RehashLimit(newBucketCount);
}

void JsonObject::RemoveAll() {
    m_nodes.clear();
    m_nodes.shrink_to_fit();
    m_buckets.clear();
    m_buckets.shrink_to_fit();
}

JsonObject CopyObject(const JsonObject& source) {
    JsonObject copy;
    source.ForEach(
        [&copy](const JsonMember& member) { SetString(copy, member.name, member.value); });
    return copy;
}

void JsonObjectArray::Add(const JsonObject& object) {
    GrowFor(Size() + 1);
    m_elements.push_back(CopyObject(object));
}

// The first allocation takes exactly what is asked for; later ones add an
// eighth of the size, clamped to 4..1024 elements. That is the capacity the
// array reports; its storage grows by the vector's own doubling, since
// steps of 1,024 made a report of 200,000 problems move its elements 200
// times over.
void JsonObjectArray::GrowFor(DWORD newSize) {
    if (newSize <= m_dwCapacity)
        return;
    DWORD newCapacity = newSize;
    if (m_dwCapacity != 0) {
        const DWORD step = std::clamp<DWORD>(Size() / 8, 4, 1024);
        if (m_dwCapacity > 0xFFFFFFFF - step)
            throw std::bad_alloc();
        newCapacity = std::max(m_dwCapacity + step, newSize);
    }
    m_dwCapacity = newCapacity;
}
