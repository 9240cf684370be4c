#include "ArchiveRewrite.h"
#include "salvo_archiver.h"

namespace salvo::arc {
namespace {
class SevenZipRewriter : public FormatRewriter {
public:
    int load(ReplacementFile &, std::vector<ExistingEntry> *, std::string *message) override
    {
        *message = "not yet";
        return SALVO_E_NOT_SUPPORT;
    }
    int write(ReplacementFile &, const std::vector<bool> &, const std::vector<NewItem> &, const AliveFn &,
              std::string *) override
    {
        return SALVO_E_NOT_SUPPORT;
    }
};
} // namespace
std::unique_ptr<FormatRewriter> makeSevenZipRewriter(bool)
{
    return std::make_unique<SevenZipRewriter>();
}
} // namespace salvo::arc
