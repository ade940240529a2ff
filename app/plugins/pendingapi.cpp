#include "plugins/pendingapi.h"

#include "log/logmodel.h"

#include <mutex>
#include <set>
#include <string>

namespace vexa::plugins {

bool reportNotAvailable(const char* name) noexcept
{
    struct Reported {
        std::mutex mutex;
        std::set<std::string> names;
    };
    // Never destroyed: a worker may still call a missing function while the program
    // exits.
    static Reported* state = new Reported;
    try {
        std::string key = name ? name : "";
        {
            std::lock_guard lock(state->mutex);
            if (!state->names.insert(key).second)
                return false;
        }
        // A plug-in may call a missing function in a loop: one line per name is enough.
        log::logPost(("Fonction " + key + " non disponible dans cette version").c_str());
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace vexa::plugins
