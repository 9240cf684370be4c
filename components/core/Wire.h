#pragma once
// Messages between a component and its decoder process: each is a 32-bit
// length, a kind byte and fields (integers little-endian, strings with a
// 32-bit length), and descriptors passed along with it (SCM_RIGHTS): the
// archive a request reads, the folders an extraction writes into. Both ends
// are ours; the reader still checks every length.
#include "Descriptors.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace salvo::arc {

enum class Msg : uint8_t {
    // component -> worker
    // The requests that read an archive end with the files passed along with
    // them: a count and the path of each, whose descriptors come in that order.
    List = 'L',     // path, formats, files
    Check = 'C',    // path, formats, mode, files
    Extract = 'X',  // path, formats, outdir, flat, overwrite, names..., may ask for passwords, exact names, files
    Answer = 'a',   // answer to an Ask
    Password = 'p', // answer to an AskPassword: given, password
    Delete = 'D',   // path, formats, temp path, exact, names (each with: quoted)...
    Add = 'U',      // path, formats, temp path, kind, flags, base folder, target folder, names (each with: quoted)...
    Plan = 'P',     // path, formats, flat, most ranges, files: how to share an extraction among decoders
    // path, formats, outdir, flat, overwrite, share, first, end, legacy names,
    // files; a helper's request also passes the output and staging folders of
    // the lead (two descriptors after the files)
    ExtractRange = 'x',
    Verdict = 'v',  // to a lead whose range is done: code, files the others made, message
    Version = 'V',  // (no fields): answered by a Result whose message names the decoding libraries
    // worker -> component
    Batch = 'b',    // entries of a listing under way: count, entries...
    Entries = 'R',  // end of a listing: code, message, count, the entries not sent in batches...
    Result = 'r',   // code, message (after Delete and Add: code, done, requested, message)
    Ask = 'A',      // full path of an existing file
    AskPassword = 'Q', // an encrypted entry needs a password: retry
    Alive = 'H',    // the worker is still making progress
    Progress = 'g', // how far an extraction has come: entry, bytes written, bytes read, archive size
    Replaced = 'w', // a write's new archive has just taken the old one's place
    // where an extraction writes: the staging folder's name, then the folders
    // the call made for its output folder (count, names, outermost first);
    // passes the output folder, the staging folder and, when folders were
    // made, the folder they were made in
    Staging = 'S',
    Ranges = 'G',   // legacy names, count, first entry of each range
    RangeDone = 'd', // a range is extracted: code, files made, message
};

// What an extraction does with a file that is already there.
enum class OverwritePolicy : uint32_t { Ask = 0, Force = 1, Keep = 2 };

// Format families a component reads.
enum Formats : uint32_t {
    kLha = 1, kZip = 2, kSevenZip = 4, kCab = 8, kRar = 16, kTar = 32, kArj = 64,
};

// Largest message either side accepts.
inline constexpr uint32_t kMaxMessage = 256u * 1024 * 1024;

class WireWriter {
public:
    explicit WireWriter(Msg kind) { m_data.push_back(static_cast<char>(kind)); }
    WireWriter &u32(uint32_t v) { return raw(&v, 4); }
    WireWriter &i64(int64_t v) { return raw(&v, 8); }
    WireWriter &str(std::string_view s)
    {
        u32(static_cast<uint32_t>(s.size()));
        m_data.append(s.data(), s.size());
        return *this;
    }
    const std::string &data() const { return m_data; }
    // Overwrites what was written (a message that held a password).
    void wipe() { std::fill(m_data.begin(), m_data.end(), '\0'); }

private:
    WireWriter &raw(const void *p, size_t n)
    {
        m_data.append(static_cast<const char *>(p), n);
        return *this;
    }
    std::string m_data;
};

class WireReader {
public:
    explicit WireReader(std::string_view data) : m_data(data) {}
    Msg kind() const { return m_data.empty() ? Msg(0) : static_cast<Msg>(m_data[0]); }
    bool ok() const { return m_ok; }
    uint32_t u32()
    {
        uint32_t v = 0;
        raw(&v, 4);
        return v;
    }
    int64_t i64()
    {
        int64_t v = 0;
        raw(&v, 8);
        return v;
    }
    std::string str()
    {
        const uint32_t n = u32();
        if (!m_ok || m_pos + n > m_data.size()) {
            m_ok = false;
            return {};
        }
        std::string s(m_data.substr(m_pos, n));
        m_pos += n;
        return s;
    }

private:
    void raw(void *p, size_t n)
    {
        if (!m_ok || m_pos + n > m_data.size()) {
            m_ok = false;
            return;
        }
        std::memcpy(p, m_data.data() + m_pos, n);
        m_pos += n;
    }
    std::string_view m_data;
    size_t m_pos = 1; // after the kind byte
    bool m_ok = true;
};

// Blocking framed I/O on a socket; false when the other side is gone. The
// descriptors go with the message (the caller keeps its own).
bool sendMessage(int fd, const std::string &payload, const std::vector<int> &fds = {});
// Waits at most `timeoutMs` (negative: forever) for a whole message. The
// descriptors that came with it go to `fds` (closed when it is null); they are
// close-on-exec.
enum class ReadStatus { Ok, Closed, TimedOut, Invalid };
ReadStatus readMessage(int fd, std::string *payload, int timeoutMs, FdList *fds = nullptr);

// The most descriptors one message may bring; more are closed unread.
inline constexpr size_t kMaxPassedFds = 1024;

} // namespace salvo::arc
