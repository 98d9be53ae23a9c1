#pragma once

// The reader of the road build: the simulator's virtual reader behind the
// simulator's volumes, in the process of a program that otherwise runs on
// the real Windows backend. Its state lives in a file between program runs,
// as the reader's flash memory keeps it across a power cycle, and the file
// also says how the reader misbehaves in a test (a refused block, a lock
// that stays busy, a write-protect switch, a card pulled out).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/sim_volumes.h"
#include "sim/usb_registry_builder.h"
#include "sim/virtual_reader.h"

namespace road {

// The environment variable that names the state file for the road programs.
inline constexpr char kStateVariable[] = "VELCREST_ROAD_READER";

struct ReaderState {
    char letter = 'E';
    sim::DeviceIdentity identity;
    // What a written firmware turns the reader into besides what its header
    // says: the USB release and the INQUIRY revision that go with it.
    std::uint16_t becomesDeviceRevision = 0;
    std::string becomesRevision;

    bool mediumPresent = true;
    // MODE SENSE answers that report write protection before the user moves
    // the switch; 0: the card is writable.
    int writeProtectedChecks = 0;
    std::vector<std::uint16_t> refusedBlocks;
    // Lock attempts that find the volume in use; sim::kForever: every one.
    int busyLocks = 0;
    // Real time each firmware block takes, so the progress can be seen.
    unsigned blockDelayMs = 0;
    unsigned formatDurationMs = 0;
    // The card is pulled out at this REQUEST SENSE of a running format; 0:
    // never.
    int pullAtFormatPoll = 0;

    std::vector<sim::ReceivedBlock> received;
};

// False, with `error` set, when the file cannot be read or holds a line
// that is not one of the state's.
bool loadState(const std::string& path, ReaderState& state, std::string& error);
bool saveState(const std::string& path, const ReaderState& state);

// What the reader comes up as after a power cycle: when it took a whole
// firmware since it last came up, the identity the firmware's header gives
// it (the received blocks are then spent); otherwise unchanged. True when
// the identity changed.
bool powerCycle(ReaderState& state);

// A virtual reader with the state's behaviour, attached at the state's drive
// letter of the volumes.
class RoadReader final : public sim::ScsiDevice {
  public:
    RoadReader(platform::Clock& clock, ReaderState state);

    sim::ScsiReply execute(const sim::ScsiCommand& command) override;
    platform::Volumes& volumes() { return volumes_; }
    // The state to carry on to the next program run.
    ReaderState state() const;

  private:
    void beforeCommand(const sim::ScsiCommand& command);

    platform::Clock& clock_;
    ReaderState state_;
    sim::VirtualReader reader_;
    sim::SimVolumes volumes_;
    int protectedChecksLeft_;
    int formatPolls_ = 0;
};

}  // namespace road
