#include "Requests.h"

namespace salvo::arc {

bool readWriteRequest(WireReader &in, bool adding, WriteRequest *request)
{
    WriteRequest &req = *request;
    req.archive = in.str();
    req.formats = in.u32();
    req.tempPath = in.str();
    if (adding) {
        req.kind = static_cast<WriteKind>(in.u32());
        const uint32_t flags = in.u32();
        req.recursive = flags & 1;
        req.noFolderEntries = flags & 2;
        req.updateOnly = flags & 4;
        req.solid = flags & 8;
        req.exactNames = flags & 16;
        req.baseDir = in.str();
        req.targetFolder = in.str();
    } else {
        req.exactNames = in.u32() & 1;
    }
    const uint32_t count = in.u32();
    for (uint32_t i = 0; i < count && in.ok(); ++i) {
        req.names.push_back(in.str());
        req.quotedNames.push_back(in.u32() != 0);
    }
    return in.ok();
}

} // namespace salvo::arc
