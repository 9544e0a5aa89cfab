// SPDX-License-Identifier: MIT
#include "server/operator/Descriptors.h"

#include "server/stage/Farewells.h"
#include "server/stage/StageServer.h"

#include <algorithm>
#include <limits>
#include <sys/resource.h>

namespace Descriptors {

int raiseSoftLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return int(std::min<rlim_t>(limit.rlim_cur, std::numeric_limits<int>::max()));
}

ServerSettings sizedFor(ServerSettings settings, int limit)
{
    constexpr int Listeners = 3; // the stage, its TLS port, the page
    const int free = limit - Reserved - Listeners - StageServer::MaxClients - int(Farewells::Max);
    settings.waitingPlaces = std::clamp(free / 4, 4, StageServer::MaxUnjoined);
    settings.pageConnections = std::max(16, free - settings.waitingPlaces);
    return settings;
}

} // namespace Descriptors
