#pragma once
// Which decoder reads an archive. libarchive reads nearly everything; what it
// lacks (ZIP entries in Deflate64 and the older or newer methods, 7z with AES
// encryption or the ARM64 and RISC-V filters, 7z self-extractors it does not
// look far enough for, ARJ) goes to the second decoder, 7-Zip's `7zz` (see
// SevenZipTool.h). The choice is made from the archive's own headers before
// anything is extracted, so that the whole archive goes one way.
#include "VolumeInput.h"

#include <cstdint>
#include <string>

namespace salvo::arc {

enum class DecoderKind { Libarchive, SevenZipTool };

struct DecoderChoice {
    DecoderKind kind = DecoderKind::Libarchive;
    uint32_t family = 0;           // the format family the second decoder reads (kZip, kSevenZip, kArj)
    std::string lacking;           // what libarchive lacks, for messages ("Deflate64", "ARJ", ...)
    bool encrypted = false;        // some data is encrypted: a password is needed
    bool headersEncrypted = false; // the names too: even a listing needs the password
};

// `formats` are the families the asking component reads.
DecoderChoice chooseDecoder(const VolumeInput &input, uint32_t formats);

} // namespace salvo::arc
