// The -lh5- encoder against outside readers: libarchive, and the jlha and
// lhasa tools when installed, on data that reaches every corner of the
// format (one symbol, no matches, the longest matches, the farthest ones,
// many blocks, the window sliding).
#include "worker/Lh5Encoder.h"

#include "support/TestEnvironment.h"
#include "support/TreeSnapshot.h"

#include <QStandardPaths>

#include <archive.h>
#include <archive_entry.h>

#include <random>

using namespace salvo;
using namespace salvo::test;
using namespace salvo::arc;

namespace {

uint16_t crc16(const std::string &data)
{
    uint16_t crc = 0;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

void le(std::string &s, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        s.push_back(static_cast<char>(v >> (8 * i)));
}

// A level-0 member with -lh5- data.
std::string member(const std::string &name, const std::string &data, const std::vector<unsigned char> &packed)
{
    std::string body = "-lh5-";
    le(body, static_cast<uint32_t>(packed.size()), 4);
    le(body, static_cast<uint32_t>(data.size()), 4);
    le(body, 0x50215021, 4); // a DOS time and date in 2020
    body.push_back(0x20);
    body.push_back(0);
    body.push_back(static_cast<char>(name.size()));
    body += name;
    le(body, crc16(data), 2);
    unsigned char sum = 0;
    for (unsigned char c : body)
        sum += c;
    std::string h;
    h.push_back(static_cast<char>(body.size()));
    h.push_back(static_cast<char>(sum));
    return h + body + std::string(packed.begin(), packed.end());
}

std::map<std::string, std::string> readWithLibarchive(const std::string &path)
{
    std::map<std::string, std::string> out;
    archive *a = archive_read_new();
    archive_read_support_format_lha(a);
    EXPECT_EQ(archive_read_open_filename(a, path.c_str(), 65536), ARCHIVE_OK);
    archive_entry *e;
    int r;
    while ((r = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
        std::string data;
        char buffer[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buffer, sizeof buffer)) > 0)
            data.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(n, 0) << archive_entry_pathname(e) << ": " << (archive_error_string(a) ? archive_error_string(a) : "");
        out[archive_entry_pathname(e)] = data;
    }
    EXPECT_EQ(r, ARCHIVE_EOF);
    archive_read_free(a);
    return out;
}

TEST(Lh5Encoder, OutsideReadersDecodeEveryShapeOfData)
{
    TempHome home;
    std::mt19937 rng(7);
    auto randomBytes = [&](size_t n) {
        std::string s(n, '\0');
        for (char &c : s)
            c = static_cast<char>(rng());
        return s;
    };
    std::string text;
    const char *words[] = {"archive ", "window ", "huffman ", "block ", "table ", "match ", "\n", "lzss ", "code "};
    while (text.size() < 3'000'000)
        text += words[rng() % 9];
    const std::string far = randomBytes(8191);
    std::string allValues;
    for (int i = 0; i < 70000; ++i)
        allValues.push_back(static_cast<char>((i * 37) ^ (i >> 8)));
    const std::vector<std::pair<std::string, std::string>> cases{
        {"one.txt", "x"},                         // a table of one code
        {"two.txt", "ab"},
        {"same.bin", std::string(100000, 'a')},   // one literal, then the longest matches
        {"zeros.bin", std::string(3'000'000, '\0')},
        {"random.bin", randomBytes(300000)},      // no matches at all
        {"far.bin", far + far + far},             // matches exactly a window back
        {"values.bin", allValues},
        {"text.txt", text},                       // many blocks, the window slides
    };
    std::string archive;
    for (const auto &[name, data] : cases) {
        std::vector<unsigned char> packed = lh5Compress(reinterpret_cast<const unsigned char *>(data.data()), data.size());
        // Written in uneven pieces, the stream is the same.
        std::vector<unsigned char> pieces;
        Lh5Encoder encoder([&](const unsigned char *p, size_t n) {
            pieces.insert(pieces.end(), p, p + n);
            return true;
        });
        size_t at = 0, step = 1;
        while (at < data.size()) {
            const size_t n = std::min(step, data.size() - at);
            ASSERT_TRUE(encoder.write(data.data() + at, n));
            at += n;
            step = step * 7 + 3;
        }
        ASSERT_TRUE(encoder.finish());
        EXPECT_EQ(pieces, packed) << name;
        EXPECT_EQ(encoder.compressedSize(), packed.size()) << name;
        archive += member(name, data, packed);
    }
    archive.push_back('\0');
    EXPECT_LT(archive.size(), text.size() / 3); // text and zeros shrink well
    const QString path = home.path("lh5.lzh");
    writeFile(path, QByteArray::fromStdString(archive));

    const std::map<std::string, std::string> read = readWithLibarchive(path.toStdString());
    ASSERT_EQ(read.size(), cases.size());
    for (const auto &[name, data] : cases)
        EXPECT_TRUE(read.at(name) == data) << name;
    for (const char *tool : {"jlha", "lhasa"}) {
        const QString program = QStandardPaths::findExecutable(QLatin1String(tool));
        if (program.isEmpty())
            continue;
        QByteArray output;
        EXPECT_EQ(runProgram(program, {QStringLiteral("t"), path}, &output), 0) << tool << output.toStdString();
        EXPECT_FALSE(output.contains("rror")) << tool << output.toStdString();
    }
}

} // namespace
