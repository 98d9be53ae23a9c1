#include <algorithm>
#include <filesystem>
#include <map>

#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"
#include "firmware/srecord_reader.h"
#include "sim/machine_impl.h"
#include "sim/windows_names.h"

// The process observer that turns what a program's windows do into events,
// and what the programs do with the package: their standard output, the
// files they open, the firmware they load and the header a reader takes.
namespace sim {

namespace {

constexpr int kProgressMarkStep = 25;
constexpr int kFullPercent = 100;
constexpr char kFirmwareTableName[] = "firmtable.txt";

std::vector<std::string> rowFields(const firmware::FirmwareTableRow& row) {
    return {row.keyVendorId,    row.keyProductId,    row.newProductId,
            row.keyProductName, row.newProductName,  row.keyRevision,
            row.headerName,     row.handoffRevision, row.firmwareFileName};
}

// What one process's windows do, told to the machine as transcript events.
class ProcessObserver final : public UiObserver {
  public:
    explicit ProcessObserver(Machine::Impl& machine) : machine_(machine) {}

    void dialogShown(const DialogView& dialog) override {
        shown_[dialog.templateId] = dialog;
        std::vector<EventField> fields = viewFields(dialog);
        // A notice about a block that never reached the reader: say why.
        std::string note;
        for (const auto& [letter, refusal] : machine_.releasedAfterRefusal) {
            if (!note.empty()) note += "; ";
            note += "no command has reached " + driveText(letter) + " since " + refusal +
                    " and its volume was released";
        }
        if (!note.empty()) fields.push_back({field::kNote, note});
        machine_.record(EventKind::DialogShown, std::move(fields));
        machine_.dialogShown(dialog.templateId);
        machine_.virtualClock.runDue();
    }
    void dialogAnswered(int templateId, const UserAction& action) override {
        std::vector<EventField> fields{{field::kTemplate, std::int64_t{templateId}},
                                       {field::kAnswer, action.describe()}};
        if (const std::optional<std::string> label = buttonLabel(templateId, action))
            fields.push_back({field::kButton, *label});
        machine_.record(EventKind::DialogAnswered, std::move(fields));
    }
    void answerRefused(int templateId, const UserAction& action,
                       const std::string& reason) override {
        machine_.record(EventKind::AnswerRefused, {{field::kTemplate, std::int64_t{templateId}},
                                                   {field::kAnswer, action.describe()},
                                                   {field::kReason, reason}});
    }
    void dialogClosed(int templateId, win::INT_PTR result) override {
        machine_.record(EventKind::DialogClosed,
                        {{field::kTemplate, std::int64_t{templateId}},
                         {field::kResult, static_cast<std::int64_t>(result)}});
    }
    void templateMissing(int templateId, bool modal) override {
        machine_.record(EventKind::TemplateMissing,
                        {{field::kTemplate, std::int64_t{templateId}}, {field::kModal, modal}});
    }
    void modelessCreated(const DialogView& dialog) override {
        nextMark_[dialog.templateId] = 0;
        machine_.record(EventKind::WindowCreated, viewFields(dialog));
    }
    void modelessDestroyed(int templateId) override {
        machine_.record(EventKind::WindowDestroyed, {{field::kTemplate, std::int64_t{templateId}}});
    }
    // Only the moments the bar passes 0, 25, 50, 75 and 100 % are told: a
    // flash moves it hundreds of times.
    void progressChanged(int templateId, int controlId, const ProgressBarState& bar) override {
        const int range = bar.high - bar.low;
        if (range <= 0) return;
        const long long offset = std::clamp(bar.position, bar.low, bar.high) - bar.low;
        const int percent = static_cast<int>(offset * kFullPercent / range);
        int& mark = nextMark_[templateId];
        if (mark > kFullPercent || percent < mark) return;
        mark = (percent / kProgressMarkStep + 1) * kProgressMarkStep;
        machine_.record(EventKind::Progress, {{field::kTemplate, std::int64_t{templateId}},
                                              {field::kControl, std::int64_t{controlId}},
                                              {field::kPosition, std::int64_t{bar.position}},
                                              {field::kLow, std::int64_t{bar.low}},
                                              {field::kHigh, std::int64_t{bar.high}},
                                              {field::kPercent, std::int64_t{percent}}});
    }
    void suspendQuery(bool refused) override {
        machine_.record(EventKind::SuspendQuery, {{field::kRefused, refused}});
    }
    void quitPosted(int exitCode) override {
        machine_.record(EventKind::QuitPosted, {{field::kExitCode, std::int64_t{exitCode}}});
    }
    void loopGuardStopped(const std::string& reason) override {
        machine_.record(EventKind::LoopGuard, {{field::kReason, reason}});
    }

  private:
    // The text of the button an answer presses, as the person saw it.
    std::optional<std::string> buttonLabel(int templateId, const UserAction& action) const {
        const auto shown = shown_.find(templateId);
        if (shown == shown_.end()) return std::nullopt;
        for (const ButtonView& button : shown->second.buttons) {
            const bool pressed =
                (action.kind == UserActionKind::PressButton && button.id == action.buttonId) ||
                (action.kind == UserActionKind::PressEnter && button.isDefault);
            if (pressed) return withoutMnemonics(button.text);
        }
        return std::nullopt;
    }

    static std::vector<EventField> viewFields(const DialogView& dialog) {
        std::vector<std::string> buttons;
        for (const ButtonView& button : dialog.buttons) {
            buttons.push_back(std::to_string(button.id) + " " + withoutMnemonics(button.text) +
                              (button.isDefault ? " (default)" : ""));
        }
        std::vector<EventField> fields{{field::kTemplate, std::int64_t{dialog.templateId}},
                                       {field::kCaption, withoutMnemonics(dialog.caption)},
                                       {field::kTexts, dialog.texts},
                                       {field::kButtons, buttons},
                                       {field::kModal, dialog.modal}};
        if (!dialog.comboItems.empty()) {
            fields.push_back({field::kChoices, dialog.comboItems});
            fields.push_back({field::kSelected, std::int64_t{dialog.comboSelection}});
        }
        return fields;
    }

    Machine::Impl& machine_;
    std::map<int, int> nextMark_;
    std::map<int, DialogView> shown_;
};

}  // namespace

std::unique_ptr<UiObserver> makeProcessObserver(Machine::Impl& machine) {
    return std::make_unique<ProcessObserver>(machine);
}

void Machine::Impl::programWrote(std::string_view text) {
    pendingOutput.append(text);
    for (std::size_t end = pendingOutput.find('\n'); end != std::string::npos;
         end = pendingOutput.find('\n')) {
        outputLine(pendingOutput.substr(0, end));
        pendingOutput.erase(0, end + 1);
    }
}

// Each line counted within its process, so that a transcript can show the
// first few and say how many more there were.
void Machine::Impl::outputLine(std::string text) {
    std::vector<EventField> fields{{field::kText, std::move(text)}};
    if (!outputLines.empty()) fields.push_back({field::kLine, ++outputLines.back()});
    record(EventKind::ProgramOutput, std::move(fields));
}

// A process that ends takes its unfinished last line with it into the transcript.
void Machine::Impl::flushOutput() {
    if (pendingOutput.empty()) return;
    outputLine(pendingOutput);
    pendingOutput.clear();
}

void Machine::Impl::fileOpened(const std::string& windowsPath,
                               const std::optional<std::string>& hostPath, win::DWORD error,
                               std::span<const std::uint8_t> content) {
    std::vector<EventField> fields{{field::kPath, windowsPath}};
    if (hostPath) {
        fields.push_back({field::kFile, std::filesystem::path(*hostPath).filename().string()});
    } else {
        fields.push_back({field::kError, static_cast<std::int64_t>(error)});
    }
    record(EventKind::FileOpened, std::move(fields));
    if (hostPath &&
        !sameName(std::filesystem::path(*hostPath).filename().string(), kFirmwareTableName)) {
        firmwareFileOpened(windowsPath, *hostPath, content);
    }
}

// Any other file the program opens is the firmware file of its row. The
// machine loads it as the program is about to, from the decoder state the
// program has reached, with its own diagnostics silenced (the program prints
// its own), and gives the decoder back as it found it.
void Machine::Impl::firmwareFileOpened(const std::string& windowsPath, const std::string& hostPath,
                                       std::span<const std::uint8_t> content) {
    const firmware::ChainedDecoderState programDecoder = firmware::chainedDecoderState();
    auto image = std::make_unique<firmware::FirmwareImage>();
    firmware::MemoryByteSource source(content);
    // The program has printed the diagnostics already; this second look only
    // learns what the load gave.
    class Silent final : public firmware::LoaderDiagnostics {
        void report(std::string_view /*line*/) override {}
    } silent;
    const firmware::LoadOutcome outcome = firmware::loadFirmwareImage(source, *image, silent);
    firmware::chainedDecoderState() = programDecoder;

    std::vector<EventField> fields{
        {field::kPath, windowsPath},
        {field::kFile, std::filesystem::path(hostPath).filename().string()},
        {field::kResult, std::int64_t{outcome.result}},
        {field::kHoldsData, image->holdsData()}};
    if (outcome.endingRecord) {
        fields.push_back(
            {field::kRecordLine, static_cast<std::int64_t>(outcome.endingRecord->line)});
        fields.push_back({field::kRecordType, std::string("S") + outcome.endingRecord->type});
        fields.push_back({field::kRecordAddress, std::int64_t{outcome.endingRecord->address}});
    }
    if (image->holdsData()) {
        fields.push_back({field::kLowAddress, std::int64_t{image->imageLowAddress}});
        fields.push_back({field::kHighAddress, std::int64_t{image->imageHighAddress}});
    }
    // The row that led the program here: the first reader whose row names this file.
    for (const ReaderState& reader : readers) {
        const std::optional<TableMatch> match = tableRowFor(reader.current);
        if (!match || processes.empty()) continue;
        const std::optional<std::string> named =
            processes.back()->system().hostPathFor(match->row.firmwareFileName);
        if (named != hostPath) continue;
        fields.push_back({field::kDrive, driveText(reader.letter)});
        fields.push_back({field::kRow, static_cast<std::int64_t>(match->line)});
        fields.push_back({field::kRowFields, rowFields(match->row)});
        break;
    }
    record(EventKind::FirmwareLoaded, std::move(fields));
}

void Machine::Impl::headerTaken(char letter) {
    ReaderState* reader = readerOn(letter);
    if (reader == nullptr) return;
    const FirmwareReception reception = receptionOf(reader->device->receivedBlocks());
    if (!reception.headerReceived) return;
    const firmware::HeaderBlockFields& header = reception.header;
    const auto& nameBytes = header.headerNameBytes;
    const firmware::HeaderProductName& product = header.headerProductName;
    record(
        EventKind::FirmwareHeader,
        {{field::kDrive, driveText(letter)},
         {field::kHeaderName,
          trimmedRight(std::string(
              nameBytes.begin(), std::find(nameBytes.begin(), nameBytes.end(), std::uint8_t{0})))},
         {field::kScrambled, reception.scrambled},
         {field::kProductId, std::int64_t{header.headerProductId}},
         {field::kProductName, trimmedRight(std::string(product.begin(), product.end()))},
         {field::kImageStart, std::int64_t{header.imageStart}},
         {field::kImageLength, std::int64_t{header.imageLength}},
         {field::kImageChecksum, std::int64_t{header.imageChecksum}},
         {field::kBlocks, std::int64_t{reception.blocksExpected}}});
}

// The row of the package's table for a reader of this identity, as the
// update program finds it: by the USB ids as the machine's Windows spells them.
std::optional<TableMatch> Machine::Impl::tableRowFor(const DeviceIdentity& identity) const {
    const std::optional<std::filesystem::path> path =
        hostFileFor({setup.currentDirectory, scenario.machine.programFolder}, kFirmwareTableName,
                    setup.currentDirectory);
    if (!path) return std::nullopt;
    std::vector<std::uint8_t> raw;
    if (!firmware::readWholeFile(path->string(), raw)) return std::nullopt;
    const std::string text = firmware::decodeFirmwareTableText(raw);
    const UsbIdSpelling spelling = usbIdSpelling();
    const firmware::ReaderIdentity reader{
        usbIdDigits(identity.vendorId, spelling), usbIdDigits(identity.productId, spelling),
        usbIdDigits(identity.deviceRevision, spelling), trimmedRight(identity.inquiry.product)};
    const std::optional<std::size_t> line = firmware::findFirmwareRowLine(text, reader);
    if (!line) return std::nullopt;
    return TableMatch{*line + 1,
                      firmware::cutFirmwareTableRow(firmware::firmwareTableLines(text)[*line])};
}

}  // namespace sim
