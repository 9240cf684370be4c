#pragma once
// The data of deflated ZIP entries, inflated by the fast inflater (Inflater.h)
// instead of by libarchive's zlib. libarchive still reads every header (names,
// modes, times, encryption, the checks of the central directory against the
// local headers); for an entry whose data it would inflate, this reader finds
// the entry's record in the central directory by where libarchive says the
// data begins, and inflates the data straight from the archive's bytes.
// (libzip could hand out the raw data too, but it would read the central
// directory a second time, its own way, and could not be told which of its
// entries libarchive is at: the offset of the data ties the two together.)
//
// It answers only for plain deflated entries whose every check holds as
// libarchive checks it: the stream ends exactly with the compressed size, and
// gives the size and the CRC-32 of the central directory. Anything else, and
// any trouble on the way, is left to libarchive, which then reads the entry
// (again, from its start) and says what is wrong exactly as it always did.
#include "VolumeInput.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace salvo::arc {

class Inflater;

class ZipDeflatedData {
public:
    // Whether the fast inflater is there to be used (built in and not turned off).
    static bool available();

    explicit ZipDeflatedData(const VolumeInput &input);
    ~ZipDeflatedData();
    ZipDeflatedData(const ZipDeflatedData &) = delete;
    ZipDeflatedData &operator=(const ZipDeflatedData &) = delete;

    // Takes the output in order, with its offset in the entry; false stops.
    using Sink = std::function<bool(const void *data, size_t length, int64_t offset)>;
    enum class Outcome {
        Done,       // the whole entry went to the sink, every check held
        Libarchive, // libarchive reads this entry (the sink may have had part of it)
        Stopped,    // the sink said stop
    };
    // The entry whose data begins at `dataOffset` of the archive and is
    // `size` bytes long, as libarchive read its header.
    Outcome read(int64_t dataOffset, int64_t size, const Sink &sink);
    // How far into the archive's bytes the reading of entry data has come.
    int64_t position() const { return m_position; }

private:
    struct Record {
        int64_t local = 0; // where its local header begins
        uint64_t compressed = 0, size = 0;
        uint32_t crc = 0;
        uint16_t flags = 0, method = 0;
    };
    bool readDirectory();
    const Record *recordAt(int64_t dataOffset) const;
    Outcome inflate(const Record &r, int64_t dataOffset, const Sink &sink);

    const VolumeInput &m_input;
    bool m_read = false;
    std::vector<Record> m_records; // by local header offset
    std::unique_ptr<Inflater> m_inflater;
    std::unique_ptr<uint8_t[]> m_in, m_out;
    size_t m_inSize = 0;
    int64_t m_position = 0;
};

} // namespace salvo::arc
