#include "sim/scenario_json.h"

#include <fstream>
#include <sstream>

#include "sim/scenario_fields.h"
#include "sim/scenario_machine_json.h"

// The objects of a scenario file besides the machine (scenario_machine_json.cpp):
// the person, the faults, the incidents and the run, each read from its table
// of fields by the walk of scenario_fields.h.

namespace sim {

namespace {

using scenario_json::Field;
using scenario_json::Json;
using scenario_json::JsonReader;
using scenario_json::kMaxTemplateId;
using scenario_json::Named;

// --- the person -------------------------------------------------------------------

bool queuedAnswers(JsonReader& json, const Json& value, const std::string& path,
                   ProgramAnswers& out) {
    if (!value.is_object())
        return json.fail(path, "expected an object: template number -> list of answers");
    for (const auto& [key, answers] : value.items()) {
        const std::string keyPath = JsonReader::field(path, key);
        int templateId = 0;
        if (!json.templateKey(key, keyPath, templateId)) return false;
        std::vector<UserAction>& queue = out.queued[templateId];
        if (answers.is_array()) {
            for (std::size_t i = 0; i < answers.size(); ++i) {
                UserAction answer;
                if (!json.action(answers[i], JsonReader::item(keyPath, i), answer)) return false;
                queue.push_back(answer);
            }
        } else {
            UserAction answer;
            if (!json.action(answers, keyPath, answer)) return false;
            queue.push_back(answer);
        }
    }
    return true;
}

bool defaultAnswers(JsonReader& json, const Json& value, const std::string& path,
                    ProgramAnswers& out) {
    if (!value.is_object()) return json.fail(path, "expected an object: template number -> answer");
    for (const auto& [key, answer] : value.items()) {
        const std::string keyPath = JsonReader::field(path, key);
        int templateId = 0;
        UserAction parsed;
        if (!json.templateKey(key, keyPath, templateId) || !json.action(answer, keyPath, parsed))
            return false;
        out.defaults[templateId] = parsed;
    }
    return true;
}

constexpr Field<ProgramAnswers> kProgramAnswersFields[] = {
    {"answers", queuedAnswers},
    {"defaults", defaultAnswers},
};

bool programs(JsonReader& json, const Json& value, const std::string& path, ScenarioUser& out) {
    if (!value.is_object())
        return json.fail(path, "expected an object: program file -> its answers");
    for (const auto& [program, answers] : value.items()) {
        if (!json.object(answers, JsonReader::field(path, program), kProgramAnswersFields,
                         out.programs[program]))
            return false;
    }
    return true;
}

constexpr Field<ScenarioUser> kUserFields[] = {
    {"fallback", scenario_json::action<&ScenarioUser::fallback>},
    {"programs", programs},
};

// --- the faults -------------------------------------------------------------------

// Keys that decide what kind of entry a fault is, and which effect it has.
constexpr std::string_view kCommandKey = "command";
constexpr std::string_view kRegistryKey = "registry";
constexpr std::string_view kFailKey = "fail";
constexpr std::string_view kSenseKey = "sense";

bool has(const Json& value, std::string_view key) {
    return value.is_object() && value.contains(std::string(key));
}

bool isOperation(const CommandFault& out) {
    return out.call == DeviceCall::Operation;
}

bool isWriteBlock(const CommandFault& out) {
    return out.call == DeviceCall::WriteBlock;
}

// An open, a lock or an unlock fails as a call; only a command has sense data.
bool hasSenseData(const CommandFault& out) {
    return out.call != DeviceCall::Open && out.call != DeviceCall::Lock &&
           out.call != DeviceCall::Unlock;
}

bool faultCall(JsonReader& json, const Json& value, const std::string& path, CommandFault& out) {
    return json.deviceCall(value, path, out.call);
}

bool faultOperation(JsonReader& json, const Json& value, const std::string& path,
                    CommandFault& out) {
    return json.byte(value, path, out.operationCode);
}

bool faultTimes(JsonReader& json, const Json& value, const std::string& path, CommandFault& out) {
    return json.times(value, path, out.times);
}

bool faultFailure(JsonReader& json, const Json& value, const std::string& path, CommandFault& out) {
    out.failCall = true;
    if (value.is_boolean() && value.get<bool>()) return true;
    if (!value.is_number_integer())
        return json.fail(path, "expected true or the error code the call gives");
    return json.number(value, path, out.error, 1);
}

bool faultSense(JsonReader& json, const Json& value, const std::string& path, CommandFault& out) {
    return json.sense(value, path, out);
}

constexpr Field<CommandFault> kCommandFaultFields[] = {
    {kCommandKey, faultCall},
    {.name = "operation",
     .read = faultOperation,
     .missing = "missing: the operation code to fail",
     .appliesTo = isOperation,
     .refusal = "only for \"command\": \"operation\""},
    {"drive", scenario_json::letter<&CommandFault::drive>},
    {"program", scenario_json::text<&CommandFault::program>},
    {.name = "block",
     .read = scenario_json::number<&CommandFault::block, 0>,
     .appliesTo = isWriteBlock,
     .refusal = "only for \"command\": \"writeBlock\""},
    {"occurrence", scenario_json::number<&CommandFault::occurrence, 1>},
    {"times", faultTimes},
    {kFailKey, faultFailure},
    {.name = kSenseKey,
     .read = faultSense,
     .appliesTo = hasSenseData,
     .refusal = "an open, lock or unlock has no sense data"},
};

bool commandFault(JsonReader& json, const Json& value, const std::string& path, CommandFault& out) {
    if (!json.onlyFieldsOf(value, path, kCommandFaultFields)) return false;
    if (has(value, kFailKey) == has(value, kSenseKey))
        return json.fail(path, "expected exactly one of \"" + std::string(kFailKey) +
                                   "\" (the call fails) and \"" + std::string(kSenseKey) +
                                   "\" (the device answers CHECK CONDITION)");
    return json.readFields(value, path, kCommandFaultFields, out);
}

constexpr Named<RegistryCall> kRegistryCalls[] = {
    {"open", RegistryCall::Open},
    {"create", RegistryCall::Create},
    {"enumValue", RegistryCall::EnumValue},
    {"enumKey", RegistryCall::EnumKey},
    {"queryValue", RegistryCall::QueryValue},
    {"setValue", RegistryCall::SetValue},
    {"deleteKey", RegistryCall::DeleteKey},
    {"close", RegistryCall::Close},
};

bool registryCall(JsonReader& json, const Json& value, const std::string& path,
                  RegistryFault& out) {
    return json.word(value, path, kRegistryCalls,
                     "expected one of: " + scenario_json::namesOf(kRegistryCalls), out.call);
}

constexpr Field<RegistryFault> kRegistryFaultFields[] = {
    {kRegistryKey, registryCall},
    {"key", scenario_json::text<&RegistryFault::keyPath>, "missing: the key path"},
    {"name", scenario_json::text<&RegistryFault::name>},
    {"error", scenario_json::number<&RegistryFault::error, 1>},
};

bool faults(JsonReader& json, const Json& value, const std::string& path, Scenario& out) {
    if (!value.is_array()) return json.fail(path, "expected a list of faults");
    for (std::size_t i = 0; i < value.size(); ++i) {
        const Json& entry = value[i];
        const std::string entryPath = JsonReader::item(path, i);
        if (has(entry, kCommandKey)) {
            CommandFault fault;
            if (!commandFault(json, entry, entryPath, fault)) return false;
            out.faults.push_back(std::move(fault));
        } else if (has(entry, kRegistryKey)) {
            RegistryFault fault;
            if (!json.object(entry, entryPath, kRegistryFaultFields, fault)) return false;
            out.registryFaults.push_back(std::move(fault));
        } else {
            return json.fail(entryPath, "expected a fault with a \"" + std::string(kCommandKey) +
                                            "\" or a \"" + std::string(kRegistryKey) + "\" field");
        }
    }
    return true;
}

// --- the incidents ----------------------------------------------------------------

// The keys of a trigger that say what kind it is; exactly one is given.
constexpr Named<TriggerKind> kTriggerKinds[] = {
    {"time", TriggerKind::Time},
    {"dialog", TriggerKind::Dialog},
    {kCommandKey, TriggerKind::Command},
    {"poll", TriggerKind::Poll},
};

bool waitsForOperation(const Trigger& out) {
    return out.kind == TriggerKind::Command && out.call == DeviceCall::Operation;
}

bool isAProgramsMoment(const Trigger& out) {
    return out.kind != TriggerKind::Time;
}

bool concernsADrive(const Trigger& out) {
    return out.kind == TriggerKind::Command || out.kind == TriggerKind::Poll;
}

bool countsOccurrences(const Trigger& out) {
    return out.kind == TriggerKind::Dialog || out.kind == TriggerKind::Command;
}

bool triggerCall(JsonReader& json, const Json& value, const std::string& path, Trigger& out) {
    return json.deviceCall(value, path, out.call);
}

bool triggerOperation(JsonReader& json, const Json& value, const std::string& path, Trigger& out) {
    return json.byte(value, path, out.operationCode);
}

constexpr Field<Trigger> kTriggerFields[] = {
    {kTriggerKinds[0].name, scenario_json::number<&Trigger::timeMs, 0>},
    {kTriggerKinds[1].name, scenario_json::number<&Trigger::templateId, 1, kMaxTemplateId>},
    {kTriggerKinds[2].name, triggerCall},
    {.name = "operation",
     .read = triggerOperation,
     .missing = "missing: the operation code to wait for",
     .appliesTo = waitsForOperation,
     .refusal = "only with \"command\": \"operation\""},
    {kTriggerKinds[3].name, scenario_json::number<&Trigger::occurrence, 1>},
    {.name = "program",
     .read = scenario_json::text<&Trigger::program>,
     .appliesTo = isAProgramsMoment,
     .refusal = "time is the machine's, not a program's"},
    {.name = "drive",
     .read = scenario_json::letter<&Trigger::drive>,
     .appliesTo = concernsADrive,
     .refusal = "only with \"command\" or \"poll\""},
    {.name = "occurrence",
     .read = scenario_json::number<&Trigger::occurrence, 1>,
     .appliesTo = countsOccurrences,
     .refusal = "only with \"dialog\" or \"command\""},
};

bool trigger(JsonReader& json, const Json& value, const std::string& path, Incident& out) {
    if (!json.onlyFieldsOf(value, path, kTriggerFields)) return false;
    int kinds = 0;
    for (const Named<TriggerKind>& kind : kTriggerKinds) {
        if (!has(value, kind.name)) continue;
        out.at.kind = kind.value;
        ++kinds;
    }
    if (kinds != 1)
        return json.fail(
            path, "expected exactly one of " + scenario_json::quotedNames(kTriggerKinds, "and"));
    return json.readFields(value, path, kTriggerFields, out.at);
}

constexpr char kIncidentKinds[] =
    "expected one of: pullMedium, insertMedium, writeProtect, querySuspend, quit, start";

bool incidentKind(JsonReader& json, const Json& value, const std::string& path, Incident& out) {
    if (!value.is_string()) return json.fail(path, kIncidentKinds);
    const std::optional<IncidentKind> kind = incidentNamed(value.get_ref<const std::string&>());
    if (!kind) return json.fail(path, kIncidentKinds);
    out.kind = *kind;
    return true;
}

bool concernsADrive(const Incident& out) {
    return out.kind == IncidentKind::PullMedium || out.kind == IncidentKind::InsertMedium ||
           out.kind == IncidentKind::SetWriteProtect;
}

bool setsWriteProtect(const Incident& out) {
    return out.kind == IncidentKind::SetWriteProtect;
}

bool startsAProgram(const Incident& out) {
    return out.kind == IncidentKind::StartProgram;
}

bool incidentDrive(JsonReader& json, const Json& value, const std::string& path, Incident& out) {
    return json.letter(value, path, out.drive);
}

// An incident on a drive that names none happens to the trigger's drive.
bool triggerDriveOrDefault(JsonReader&, const std::string&, Incident& out) {
    if (concernsADrive(out) && out.at.drive) out.drive = *out.at.drive;
    return true;
}

bool incidentBits(JsonReader& json, const Json& value, const std::string& path, Incident& out) {
    return json.byte(value, path, out.bits);
}

bool incidentProgram(JsonReader& json, const Json& value, const std::string& path, Incident& out) {
    return json.text(value, path, out.program);
}

constexpr Field<Incident> kIncidentFields[] = {
    {"at", trigger, "missing: when it happens"},
    {"do", incidentKind, kIncidentKinds},
    {.name = "drive",
     .read = incidentDrive,
     .appliesTo = concernsADrive,
     .refusal = "this incident concerns no drive",
     .absent = triggerDriveOrDefault},
    {.name = "bits",
     .read = incidentBits,
     .missing = "missing: the new byte 3 (0 removes the protection)",
     .appliesTo = setsWriteProtect,
     .refusal = "only with \"do\": \"writeProtect\""},
    {.name = "program",
     .read = incidentProgram,
     .missing = scenario_json::kMissing,
     .appliesTo = startsAProgram,
     .refusal = "only with \"do\": \"start\""},
};

bool incidents(JsonReader& json, const Json& value, const std::string& path, Scenario& out) {
    return json.objects(value, path, "expected a list of incidents", kIncidentFields,
                        out.incidents);
}

// --- the run and the whole scenario -----------------------------------------------

constexpr Named<AfterPowerOff> kAfterPowerOff[] = {
    {"powerOn", AfterPowerOff::PowerOn},
    {"stop", AfterPowerOff::Stop},
};

constexpr Named<IfNotPoweredOff> kIfNotPoweredOff[] = {
    {"stop", IfNotPoweredOff::Stop},
    {"restart", IfNotPoweredOff::Restart},
};

bool afterPowerOff(JsonReader& json, const Json& value, const std::string& path, ScenarioRun& out) {
    return json.choice(value, path, kAfterPowerOff, out.afterPowerOff);
}

bool ifNotPoweredOff(JsonReader& json, const Json& value, const std::string& path,
                     ScenarioRun& out) {
    return json.choice(value, path, kIfNotPoweredOff, out.ifNotPoweredOff);
}

constexpr Field<ScenarioRun> kRunFields[] = {
    {"start", scenario_json::texts<&ScenarioRun::start>},
    {"afterPowerOff", afterPowerOff},
    {"ifNotPoweredOff", ifNotPoweredOff},
};

bool machine(JsonReader& json, const Json& value, const std::string& path, Scenario& out) {
    return scenario_json::machine(json, value, path, out.machine);
}

constexpr Field<Scenario> kScenarioFields[] = {
    {"description", scenario_json::text<&Scenario::description>},
    {"machine", machine},
    {"user", scenario_json::nested<&Scenario::user, kUserFields>},
    {"faults", faults},
    {"incidents", incidents},
    {"run", scenario_json::nested<&Scenario::run, kRunFields>},
};

// Notes where the text stops being JSON, without exceptions.
class SyntaxCheck final : public nlohmann::json_sax<Json> {
  public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t&) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& problem) override {
        // "[json.exception.parse_error.101] parse error at line 2, column 5: ..."
        std::string message = problem.what();
        const std::size_t tag = message.find("] ");
        if (tag != std::string::npos) message.erase(0, tag + 2);
        constexpr std::string_view kLead = "parse error at ";
        if (message.rfind(kLead, 0) == 0) message.erase(0, kLead.size());
        error = "not JSON: " + message;
        return false;
    }

    std::string error;
};

constexpr bool kIgnoreComments = true;

}  // namespace

ScenarioReading readScenarioText(std::string_view text, const std::filesystem::path& baseFolder) {
    ScenarioReading reading;
    SyntaxCheck check;
    Json::sax_parse(text, &check, nlohmann::json::input_format_t::json, true, kIgnoreComments);
    if (!check.error.empty()) {
        reading.error = check.error;
        return reading;
    }
    const Json root = Json::parse(text, nullptr, false, kIgnoreComments);
    JsonReader json(baseFolder);
    if (!json.object(root, "", kScenarioFields, reading.scenario)) reading.error = json.error();
    return reading;
}

ScenarioReading readScenarioFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        ScenarioReading reading;
        reading.error = "cannot read " + file.string();
        return reading;
    }
    std::ostringstream content;
    content << in.rdbuf();
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    return readScenarioText(content.str(), folder);
}

}  // namespace sim
