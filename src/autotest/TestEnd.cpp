#include "autotest/TestEnd.h"

#include <mutex>
#include <utility>

namespace trevane {
namespace {

std::mutex g_hooksMutex;
TestEndHooks g_hooks;

}  // namespace

void SetTestEndHooks(TestEndHooks hooks) {
    std::lock_guard lock(g_hooksMutex);
    g_hooks = std::move(hooks);
}

TestEndHooks GetTestEndHooks() {
    std::lock_guard lock(g_hooksMutex);
    return g_hooks;
}

}  // namespace trevane
