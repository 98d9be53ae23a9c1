#pragma once

// The walk under the scenario reader. Each object of a scenario file is read
// from one table of its fields (name, reader, and when the field belongs or
// must be given): the table says which keys the object takes, in which order
// they are read, and what the message for an unknown key offers, so a key is
// spelt once and the offer cannot drift from what is read. The walk keeps the
// first fault it meets with the path of the field that holds it; every reader
// returns false once a fault is kept, so the callers simply stop.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/scenario.h"

namespace sim::scenario_json {

using Json = nlohmann::json;

// Template numbers a scenario may name: the resource ids a dialog can have.
constexpr int kMaxTemplateId = 0xFFFF;

class JsonReader;

// One field of an object: `read` takes its value when the key is there.
// Some fields belong only to some objects of a kind (a block number only to
// a fault on a written block): `appliesTo` says whether this object takes
// the field, and `refusal` is the message when it is given where it does not
// apply. `missing`, when set, is the message when the field is left out
// where it applies (a field that must be given). `absent` runs when the key
// is not there and may fill in what its absence means. `path` is the field's
// own path.
template <typename Target>
struct Field {
    std::string_view name;
    bool (*read)(JsonReader& json, const Json& value, const std::string& path, Target& out);
    const char* missing = nullptr;
    bool (*appliesTo)(const Target& out) = nullptr;
    const char* refusal = nullptr;
    bool (*absent)(JsonReader& json, const std::string& path, Target& out) = nullptr;
};

// The message of a field that must always be given.
inline constexpr char kMissing[] = "missing";

// A word the file may write and what it stands for.
template <typename Value>
struct Named {
    std::string_view name;
    Value value;
};

// "a, b, c": the names of a table of fields or words, as messages offer them.
template <typename Table>
std::string namesOf(const Table& table) {
    std::string names;
    for (const auto& entry : table) {
        if (!names.empty()) names += ", ";
        names += entry.name;
    }
    return names;
}

// "\"a\", \"b\" or \"c\"": the names of a table as alternatives (`conjunction`
// "or") or as a set ("and").
template <typename Table>
std::string quotedNames(const Table& table, std::string_view conjunction) {
    std::string names;
    const std::size_t count = std::size(table);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) names += i + 1 == count ? " " + std::string(conjunction) + " " : ", ";
        names += "\"" + std::string(table[i].name) + "\"";
    }
    return names;
}

// The largest value of T that a scenario can write.
template <typename T>
constexpr std::int64_t highest() {
    constexpr auto kLargest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::uint64_t>(std::numeric_limits<T>::max()) > kLargest
               ? std::numeric_limits<std::int64_t>::max()
               : static_cast<std::int64_t>(std::numeric_limits<T>::max());
}

class JsonReader {
  public:
    explicit JsonReader(std::filesystem::path baseFolder) : baseFolder_(std::move(baseFolder)) {}

    const std::string& error() const { return error_; }
    bool fail(const std::string& path, const std::string& what);

    static std::string field(const std::string& path, std::string_view key);
    static std::string item(const std::string& path, std::size_t index);

    // An object whose every key is a field of `fields`, each read in the
    // table's order.
    template <typename Target, std::size_t N>
    bool object(const Json& value, const std::string& path, const Field<Target> (&fields)[N],
                Target& out) {
        return onlyFieldsOf(value, path, fields) && readFields(value, path, fields, out);
    }
    // The two halves of `object`, for an object whose fields depend on one
    // another beyond what each reader sees.
    template <typename Table>
    bool onlyFieldsOf(const Json& value, const std::string& path, const Table& fields);
    template <typename Target, std::size_t N>
    bool readFields(const Json& value, const std::string& path, const Field<Target> (&fields)[N],
                    Target& out);

    // A list whose entries `readEntry(json, entry, path, out)` reads; the
    // list replaces what `out` held.
    template <typename Entry, typename ReadEntry>
    bool list(const Json& value, const std::string& path, const std::string& expected,
              std::vector<Entry>& out, ReadEntry readEntry);
    // A list of objects of one table.
    template <typename Entry, std::size_t N>
    bool objects(const Json& value, const std::string& path, const std::string& expected,
                 const Field<Entry> (&fields)[N], std::vector<Entry>& out) {
        return list(value, path, expected, out,
                    [&fields](JsonReader& json, const Json& entry, const std::string& at,
                              Entry& read) { return json.object(entry, at, fields, read); });
    }

    // One of the words of `table`; a value that is not a string gets the
    // same `expected`.
    template <typename Value, std::size_t N>
    bool word(const Json& value, const std::string& path, const Named<Value> (&table)[N],
              const std::string& expected, Value& out);

    // A string that must be one of the words of `table`:
    // "expected \"a\", \"b\" or \"c\"" otherwise.
    template <typename Value, std::size_t N>
    bool choice(const Json& value, const std::string& path, const Named<Value> (&table)[N],
                Value& out) {
        if (!value.is_string()) return fail(path, "expected a string");
        return word(value, path, table, "expected " + quotedNames(table, "or"), out);
    }

    bool text(const Json& value, const std::string& path, std::string& out);
    bool flag(const Json& value, const std::string& path, bool& out);
    bool integer(const Json& value, const std::string& path, std::int64_t low, std::int64_t high,
                 std::int64_t& out);
    template <typename T>
    bool number(const Json& value, const std::string& path, T& out,
                std::int64_t low = std::numeric_limits<T>::min(), std::int64_t high = highest<T>());
    bool byte(const Json& value, const std::string& path, std::uint8_t& out);
    bool hexId(const Json& value, const std::string& path, std::uint16_t& out);
    bool letter(const Json& value, const std::string& path, char& out);
    bool texts(const Json& value, const std::string& path, std::vector<std::string>& out);
    // A folder of the host, relative to the scenario file's own folder.
    bool folder(const Json& value, const std::string& path, std::filesystem::path& out);

    // The scenario's own kinds of values.
    bool action(const Json& value, const std::string& path, UserAction& out);
    bool templateKey(const std::string& key, const std::string& path, int& out);
    bool times(const Json& value, const std::string& path, int& out);
    bool sense(const Json& value, const std::string& path, CommandFault& out);
    bool deviceCall(const Json& value, const std::string& path, DeviceCall& call);

  private:
    std::filesystem::path baseFolder_;
    std::string error_;
};

template <typename Table>
bool JsonReader::onlyFieldsOf(const Json& value, const std::string& path, const Table& fields) {
    if (!value.is_object()) return fail(path, "expected an object");
    for (const auto& member : value.items()) {
        const std::string& key = member.key();
        const bool known = std::any_of(std::begin(fields), std::end(fields),
                                       [&](const auto& entry) { return entry.name == key; });
        if (!known)
            return fail(field(path, key),
                        "unknown field (expected one of: " + namesOf(fields) + ")");
    }
    return true;
}

template <typename Target, std::size_t N>
bool JsonReader::readFields(const Json& value, const std::string& path,
                            const Field<Target> (&fields)[N], Target& out) {
    for (const Field<Target>& entry : fields) {
        const std::string at = field(path, entry.name);
        const bool applies = entry.appliesTo == nullptr || entry.appliesTo(out);
        const auto found = value.find(std::string(entry.name));
        if (found != value.end()) {
            if (!applies) return fail(at, entry.refusal);
            if (!entry.read(*this, *found, at, out)) return false;
        } else {
            if (applies && entry.missing != nullptr) return fail(at, entry.missing);
            if (entry.absent != nullptr && !entry.absent(*this, at, out)) return false;
        }
    }
    return true;
}

template <typename Entry, typename ReadEntry>
bool JsonReader::list(const Json& value, const std::string& path, const std::string& expected,
                      std::vector<Entry>& out, ReadEntry readEntry) {
    if (!value.is_array()) return fail(path, expected);
    out.clear();
    for (std::size_t i = 0; i < value.size(); ++i) {
        Entry entry{};
        if (!readEntry(*this, value[i], item(path, i), entry)) return false;
        out.push_back(std::move(entry));
    }
    return true;
}

template <typename Value, std::size_t N>
bool JsonReader::word(const Json& value, const std::string& path, const Named<Value> (&table)[N],
                      const std::string& expected, Value& out) {
    if (!value.is_string()) return fail(path, expected);
    const std::string& written = value.get_ref<const std::string&>();
    for (const Named<Value>& entry : table) {
        if (entry.name == written) {
            out = entry.value;
            return true;
        }
    }
    return fail(path, expected);
}

template <typename T>
bool JsonReader::number(const Json& value, const std::string& path, T& out, std::int64_t low,
                        std::int64_t high) {
    std::int64_t read = 0;
    if (!integer(value, path, low, high, read)) return false;
    out = static_cast<T>(read);
    return true;
}

// --- readers of one member, for the tables ------------------------------------------
//
// `{"vendor", text<&ReaderIdentity::vendor>}` reads the field into that
// member of the object the table fills; an optional member is set only when
// the field is there.

template <auto Member>
struct MemberOf;
template <typename Owner, typename Type, Type Owner::*Member>
struct MemberOf<Member> {
    using OwnerType = Owner;
    using ValueType = Type;
};
template <auto Member>
using OwnerOf = typename MemberOf<Member>::OwnerType;

template <typename T>
struct Unwrapped {
    using Type = T;
};
template <typename T>
struct Unwrapped<std::optional<T>> {
    using Type = T;
};
template <auto Member>
using ValueOf = typename Unwrapped<typename MemberOf<Member>::ValueType>::Type;

// Reads with `read(json, value, path, plain)` and stores into the member,
// which may be an optional of the value read.
template <auto Member, typename Read>
bool intoMember(JsonReader& json, const Json& value, const std::string& path, OwnerOf<Member>& out,
                Read read) {
    ValueOf<Member> plain{};
    if (!read(json, value, path, plain)) return false;
    out.*Member = std::move(plain);
    return true;
}

template <auto Member>
bool text(JsonReader& json, const Json& value, const std::string& path, OwnerOf<Member>& out) {
    return intoMember<Member>(json, value, path, out,
                              [](JsonReader& j, const Json& v, const std::string& p,
                                 std::string& o) { return j.text(v, p, o); });
}

template <auto Member>
bool texts(JsonReader& json, const Json& value, const std::string& path, OwnerOf<Member>& out) {
    return json.texts(value, path, out.*Member);
}

template <auto Member>
bool flag(JsonReader& json, const Json& value, const std::string& path, OwnerOf<Member>& out) {
    return json.flag(value, path, out.*Member);
}

template <auto Member>
bool letter(JsonReader& json, const Json& value, const std::string& path, OwnerOf<Member>& out) {
    return intoMember<Member>(json, value, path, out,
                              [](JsonReader& j, const Json& v, const std::string& p, char& o) {
                                  return j.letter(v, p, o);
                              });
}

template <auto Member>
bool hexId(JsonReader& json, const Json& value, const std::string& path, OwnerOf<Member>& out) {
    return intoMember<Member>(json, value, path, out,
                              [](JsonReader& j, const Json& v, const std::string& p,
                                 std::uint16_t& o) { return j.hexId(v, p, o); });
}

template <auto Member>
bool byte(JsonReader& json, const Json& value, const std::string& path, OwnerOf<Member>& out) {
    return json.byte(value, path, out.*Member);
}

template <auto Member, std::int64_t Low = std::numeric_limits<ValueOf<Member>>::min(),
          std::int64_t High = highest<ValueOf<Member>>()>
bool number(JsonReader& json, const Json& value, const std::string& path, OwnerOf<Member>& out) {
    return intoMember<Member>(json, value, path, out,
                              [](JsonReader& j, const Json& v, const std::string& p,
                                 ValueOf<Member>& o) { return j.number(v, p, o, Low, High); });
}

template <auto Member>
bool action(JsonReader& json, const Json& value, const std::string& path, OwnerOf<Member>& out) {
    return json.action(value, path, out.*Member);
}

// An object read by its own table into a member.
template <auto Member, const auto& Fields>
bool nested(JsonReader& json, const Json& value, const std::string& path, OwnerOf<Member>& out) {
    return json.object(value, path, Fields, out.*Member);
}

// An object that only groups fields of the object around it, such as the
// machine's "version".
template <typename Target, const auto& Fields>
bool group(JsonReader& json, const Json& value, const std::string& path, Target& out) {
    return json.object(value, path, Fields, out);
}

}  // namespace sim::scenario_json
