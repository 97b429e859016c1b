#include "Teardown.h"

#include <vector>

namespace lumra::bench {

namespace {
std::vector<std::function<void()>>& releases()
{
    static std::vector<std::function<void()>> list;
    return list;
}
} // namespace

void keepUntilTeardown(std::function<void()> release) { releases().push_back(std::move(release)); }

void teardown()
{
    // The newest first, as statics would have gone.
    while (!releases().empty()) {
        std::function<void()> release = std::move(releases().back());
        releases().pop_back();
        release();
    }
}

} // namespace lumra::bench
