#include "platform/UserInterface.h"

namespace tessarin {

namespace {
__extension__ using TUint128 = unsigned __int128;
}

int ProgressPercent(std::uint64_t total, std::uint64_t done)
{
    if (total == 0 || done == 0)
        return 0;
    if (done >= total)
        return 100;
    // Exact integer arithmetic: q = floor(done*100/total), r the remainder.
    const TUint128 scaled = static_cast<TUint128>(done) * 100u;
    auto q = static_cast<std::uint64_t>(scaled / total);
    const TUint128 twiceRem = (scaled % total) * 2u;
    if (twiceRem > total || (twiceRem == total && (q % 2u) == 1u))
        ++q;
    return q > 100 ? 100 : static_cast<int>(q);
}

} // namespace tessarin
