// The stand-in user interface of the native soak (see soak_desktop.h).
#include "soak/soak_desktop.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "menu/article_menu.h"
#include "plugin/plugin_state.h"
#include "text/time_utils.h"

namespace feedlet {
namespace soak {

namespace {

struct StandIn {
    std::mutex mutex;
    std::vector<FeedCrawler*> posted;  // the "message queue"
    uint64_t updates = 0;
    ArticleMenuModel* model = nullptr;  // main thread only
};
StandIn g_desktop;

void Init() {
    if (!(Plugin().options & 1)) return;
    g_desktop.model = new ArticleMenuModel;
    g_desktop.model->Build(Plugin().feeds, Plugin().menu_time_zone, CurrentTime());
}

void FreeIcon(Teardown) {}

// After the feeds are gone: nothing queued may be handled any more.
void FreeWindows(Teardown) {
    delete g_desktop.model;
    g_desktop.model = nullptr;
    std::lock_guard<std::mutex> hold(g_desktop.mutex);
    g_desktop.posted.clear();
}

// A worker thread, the crawler's lock held: only a post.
void FeedUpdated(FeedCrawler* crawler) {
    std::lock_guard<std::mutex> hold(g_desktop.mutex);
    g_desktop.posted.push_back(crawler);
    ++g_desktop.updates;
}

const PluginUi kStandIn = {Init, FreeIcon, FreeWindows, FeedUpdated, nullptr, nullptr};

const MenuNode* FeedNode(size_t feed) {
    if (!g_desktop.model) return nullptr;
    return g_desktop.model->root().children.At<MenuNode>(static_cast<int32_t>(feed));
}

}  // namespace

void InstallDesktop() { SetPluginUi(&kStandIn); }

void RemoveDesktop() { SetPluginUi(nullptr); }

bool CatchUp(uint32_t timeout_ms) {
    std::vector<FeedCrawler*> posted;
    {
        std::lock_guard<std::mutex> hold(g_desktop.mutex);
        posted.swap(g_desktop.posted);
    }
    if (!g_desktop.model) return true;
    for (FeedCrawler* crawler : posted) g_desktop.model->RebuildFeed(crawler, Plugin().menu_time_zone, CurrentTime());
    // A rebuild that found its crawler busy is tried again, as the message
    // window's timer does.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!g_desktop.model->RebuildStale(Plugin().menu_time_zone, CurrentTime())) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int MenuEntries(size_t feed) {
    const MenuNode* node = FeedNode(feed);
    return node ? static_cast<int>(node->children.Count()) : -1;
}

int64_t MenuIds() { return g_desktop.model ? static_cast<int64_t>(g_desktop.model->NodeCount()) : -1; }

uint64_t Updates() {
    std::lock_guard<std::mutex> hold(g_desktop.mutex);
    return g_desktop.updates;
}

bool HasPopup() { return false; }

bool OpenAndClosePopup(const std::function<bool()>&, uint32_t) { return false; }

}  // namespace soak
}  // namespace feedlet
