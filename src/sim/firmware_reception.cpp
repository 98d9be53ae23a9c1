#include "sim/firmware_reception.h"

#include <algorithm>
#include <span>

namespace sim {

FirmwareReception receptionOf(const std::vector<ReceivedBlock>& blocks) {
    FirmwareReception reception;
    if (blocks.empty() || blocks.front().number != 0 ||
        blocks.front().bytes.size() != firmware::kBlockSize) {
        return reception;
    }
    reception.headerReceived = true;
    const std::span<const std::uint8_t, firmware::kBlockSize> header(blocks.front().bytes.data(),
                                                                     firmware::kBlockSize);
    // The reader knows the sender scrambled when the header, read scrambled,
    // names the one header name that switches scrambling on.
    const firmware::HeaderBlockFields scrambled = firmware::parseHeaderBlock(header, true);
    reception.scrambled =
        scrambled.headerNameBytes == firmware::headerNameBytes(firmware::kScramblingHeaderName);
    reception.header = reception.scrambled ? scrambled : firmware::parseHeaderBlock(header, false);
    reception.blocksExpected = firmware::blockCount(reception.header.imageLength);

    std::vector<std::uint8_t> data;
    for (std::size_t k = 1; k < blocks.size(); ++k) {
        if (blocks[k].number != k || blocks[k].bytes.size() != firmware::kBlockSize) break;
        firmware::Block block{};
        std::copy(blocks[k].bytes.begin(), blocks[k].bytes.end(), block.begin());
        if (reception.scrambled) firmware::scrambleBlock(block);
        data.insert(data.end(), block.begin(), block.end());
        ++reception.blocksReceived;
    }
    reception.whole = reception.blocksReceived == reception.blocksExpected &&
                      blocks.size() == std::size_t{reception.blocksExpected} + 1;

    // The blocks hold the image from kFirstBlockIndex on; the checksum can be
    // verified when the range it covers lies inside them.
    const std::uint64_t start = reception.header.imageStart;
    const std::uint64_t end = start + reception.header.imageLength;
    if (reception.whole && start >= firmware::kFirstBlockIndex &&
        end <= firmware::kFirstBlockIndex + data.size()) {
        std::uint32_t sum = 0;
        for (std::uint64_t i = start; i < end; ++i) sum += data[i - firmware::kFirstBlockIndex];
        reception.checksumMatches =
            static_cast<std::uint16_t>(sum) == reception.header.imageChecksum;
    }
    return reception;
}

}  // namespace sim
