#ifndef TRACKPOST_PLUGIN_TEST_SUPPORT_H
#define TRACKPOST_PLUGIN_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Dialogs.h"
#include "Trackpost.h"
#include "spfPlugin8.h"
#include "spfSharedText.h"

// The host's side of the contract, scripted: records every call and answers from tables. Its
// thread is the one that made it; a host-only call from any other fails the test.
class ScriptedHost : public ISpfHost8 {
  public:
    struct Declaration {
        void* storage;
        std::int32_t kind;
        std::int32_t id;
        std::string name;
        std::string shortName;
        float value;
    };

    SPFRESULT runCommand(const char* command) override {
        if (!onHostThread()) ADD_FAILURE() << "runCommand off the host's thread: " << command;
        std::lock_guard<std::mutex> guard(lock);
        commands.push_back(command);
        ++calls;
        return SPF_OK;
    }
    SPFRESULT queryNumber(const char* query, double* out) override {
        std::lock_guard<std::mutex> guard(lock);
        ++calls;
        numberQueries.push_back(query);
        auto it = numbers.find(query);
        if (it != numbers.end()) *out = it->second;
        return SPF_OK;
    }
    SPFRESULT queryText(const char* query, char* out, std::int32_t size) override {
        std::lock_guard<std::mutex> guard(lock);
        ++calls;
        textQueries.push_back(query);
        auto it = texts.find(query);
        if (it == texts.end()) return SPF_FAIL;  // unanswered: the buffer is left as it is
        if (fillWithoutTerminator) {
            std::memset(out, 'x', static_cast<size_t>(size));
            return SPF_OK;
        }
        spfStoreText(out, static_cast<size_t>(size), it->second);
        return SPF_OK;
    }
    SPFRESULT declareParameter(void* storage, std::int32_t kind, std::int32_t id, const char* name,
                               const char* shortName, float value) override {
        if (!onHostThread()) ADD_FAILURE() << "declareParameter off the host's thread: " << name;
        std::lock_guard<std::mutex> guard(lock);
        ++calls;
        declarations.push_back({storage, kind, id, name, shortName, value});
        auto it = kept.find(id);
        if (it != kept.end()) std::memcpy(storage, it->second.data(), it->second.size());
        return SPF_OK;
    }

    // The storage the plug-in declared for `id`.
    template <typename T>
    T* storage(std::int32_t id) {
        std::lock_guard<std::mutex> guard(lock);
        for (const Declaration& d : declarations)
            if (d.id == id) return static_cast<T*>(d.storage);
        return nullptr;
    }

    std::vector<std::string> takeTextQueries() {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<std::string> out;
        out.swap(textQueries);
        return out;
    }

    void answer(const std::string& query, const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        texts[query] = text;
    }
    void answer(const std::string& query, double number) {
        std::lock_guard<std::mutex> guard(lock);
        numbers[query] = number;
    }

    // A track on the active deck: every field the plug-in may ask for.
    void loadTrack(const std::string& file, const std::string& title, const std::string& artist) {
        answer("deck active get_loaded_song 'drive'", "C:");
        answer("deck active get_loaded_song 'filepath'", "/music/");
        answer("deck active get_loaded_song 'filename'", file);
        answer("deck active get_loaded_song 'title'", title);
        answer("deck active get_loaded_song 'artist'", artist);
    }

    bool onHostThread() const { return std::this_thread::get_id() == hostThread; }

    // The host refreshes its display, as it does between the user's actions: a call into the
    // plug-in on the host's thread.
    static void refresh(ISpfPlugin8& plugin) {
        char shown[64] = {};
        plugin.OnGetParameterString(CTrackpost::PARAM_STATUS, shown, sizeof shown);
    }

    const std::thread::id hostThread = std::this_thread::get_id();
    std::mutex lock;
    long calls = 0;
    std::vector<std::string> commands;
    std::vector<std::string> textQueries;
    std::vector<std::string> numberQueries;
    std::vector<Declaration> declarations;
    std::map<std::string, std::string> texts;
    std::map<std::string, double> numbers;
    std::map<std::int32_t, std::string> kept;  // restored during the declaration
    bool fillWithoutTerminator = false;
};

// Runs the workers one pass at a time on a clock the test sets. A pass is one turn of every worker
// thread: the thread of this pacing first, then those of its lanes in the order they were made,
// as one thread would take them.
class SteppedPacing : public WorkerPacing {
  public:
    std::int64_t now() override { return clock.load(); }
    // The real wall clock at the start, moved with `clock` and by `wallAheadMs`.
    std::int64_t wallMillis() override {
        return wallAtStartMs + (clock.load() - START) * 1000 + wallAheadMs.load();
    }

    void begin(const std::atomic<bool>&) override {
        std::lock_guard<std::mutex> guard(lock_);
        turn_ = 0;  // a started worker begins a pass
    }
    void pause(const std::atomic<bool>& running) override { endTurn(0, running); }

    void wake() override {
        std::lock_guard<std::mutex> guard(lock_);
        changed_.notify_all();
    }

    std::unique_ptr<WorkerPacing> lane() override {
        std::lock_guard<std::mutex> guard(lock_);
        return std::make_unique<Lane>(*this, lanes_++);
    }

    // Waits until the workers have finished `count` passes since the start.
    void awaitPauses(long count) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return pauses_ >= count; });
    }

    // Lets the workers make exactly one more pass and waits for its end.
    void step() { awaitPauses(grant()); }

    // Lets the workers make one more pass without waiting; the pause count that ends it.
    long grant() {
        std::lock_guard<std::mutex> guard(lock_);
        ++grants_;
        changed_.notify_all();
        return pauses_ + 1;
    }

    static constexpr std::int64_t START = 1000;
    std::atomic<std::int64_t> clock{START};
    std::atomic<std::int64_t> wallAheadMs{0};
    const std::int64_t wallAtStartMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::system_clock::now().time_since_epoch())
                                           .count();

  private:
    class Lane : public WorkerPacing {
      public:
        Lane(SteppedPacing& first, int index) : first_(first), index_(index) {}
        std::int64_t now() override { return first_.now(); }
        std::int64_t wallMillis() override { return first_.wallMillis(); }
        void begin(const std::atomic<bool>& running) override { first_.awaitTurn(index_, running); }
        void pause(const std::atomic<bool>& running) override { first_.endTurn(index_, running); }
        void wake() override { first_.wake(); }
        std::unique_ptr<WorkerPacing> lane() override { return first_.lane(); }

      private:
        SteppedPacing& first_;
        int index_;
    };

    // The thread of lane `index` has ended its turn: the next lane's begins, or the pass ends.
    void endTurn(int index, const std::atomic<bool>& running) {
        std::unique_lock<std::mutex> guard(lock_);
        if (index + 1 < lanes_) {
            turn_ = index + 1;
        } else {
            turn_ = 0;
            ++pauses_;
        }
        changed_.notify_all();
        if (index > 0) {
            changed_.wait(guard, [&] { return turn_ == index || !running; });
            return;
        }
        changed_.wait(guard, [&] { return (turn_ == 0 && grants_ > 0) || !running; });
        if (turn_ == 0 && grants_ > 0) --grants_;
    }

    void awaitTurn(int index, const std::atomic<bool>& running) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return turn_ == index || !running; });
    }

    std::mutex lock_;
    std::condition_variable changed_;
    long pauses_ = 0;
    long grants_ = 0;
    int lanes_ = 1;
    int turn_ = 0;
};

// The user, scripted: answers the boxes from queues and records every call. The record outlives
// the plug-in, which owns the dialogs object.
class ScriptedDialogs : public TrackpostDialogs {
  public:
    struct Call {
        std::string operation, text, headline, value;
    };
    struct Script {
        std::mutex lock;
        std::vector<Call> calls;
        std::deque<std::optional<std::string>> inputs;  // nullopt: the user cancels
        std::deque<bool> requests;
        std::function<void(const std::string&)> browser;    // what opening an address does
        std::function<void(const std::string&)> onMessage;  // runs when a message is shown

        std::vector<Call> callsOf(const std::string& operation) {
            std::lock_guard<std::mutex> guard(lock);
            std::vector<Call> out;
            for (const Call& c : calls)
                if (c.operation == operation) out.push_back(c);
            return out;
        }
    };

    explicit ScriptedDialogs(std::shared_ptr<Script> script) : script_(std::move(script)) {}

    void showMessage(const std::string& text, const std::string& headline) override {
        std::function<void(const std::string&)> onMessage;
        {
            std::lock_guard<std::mutex> guard(script_->lock);
            script_->calls.push_back({"showMessage", text, headline, ""});
            onMessage = script_->onMessage;
        }
        if (onMessage) onMessage(text);
    }
    // Recorded as "getInput"; an unscripted box is cancelled.
    std::optional<std::string> askInput(const std::string& text, const std::string& headline,
                                        const std::string& defaultValue) override {
        return nextInput({"getInput", text, headline, defaultValue});
    }
    // Answered from the same inputs; the record holds no value, as a secret is never shown.
    std::optional<std::string> getSecret(const std::string& text,
                                         const std::string& headline) override {
        return nextInput({"getSecret", text, headline, ""});
    }
    bool showRequest(const std::string& text, const std::string& headline) override {
        std::lock_guard<std::mutex> guard(script_->lock);
        script_->calls.push_back({"showRequest", text, headline, ""});
        if (script_->requests.empty()) return false;
        const bool answer = script_->requests.front();
        script_->requests.pop_front();
        return answer;
    }
    void openURL(const std::string& url) override {
        std::function<void(const std::string&)> browser;
        {
            std::lock_guard<std::mutex> guard(script_->lock);
            script_->calls.push_back({"openURL", url, "", ""});
            browser = script_->browser;
        }
        if (browser) browser(url);
    }

  private:
    std::optional<std::string> nextInput(Call call) {
        std::lock_guard<std::mutex> guard(script_->lock);
        script_->calls.push_back(std::move(call));
        if (script_->inputs.empty()) return std::nullopt;
        std::optional<std::string> answer = script_->inputs.front();
        script_->inputs.pop_front();
        return answer;
    }

    std::shared_ptr<Script> script_;
};

// The plug-in's inside, for tests.
class CTrackpostTestAccess {
  public:
    static void setPacing(CTrackpost& p, std::unique_ptr<WorkerPacing> pacing) {
        p.pacing = std::move(pacing);
        p.xPacing = p.pacing->lane();
        p.mastodon->usePacing(p.pacing->lane());
        p.bluesky->usePacing(p.pacing->lane());
    }
    static std::vector<std::string> outbox(CTrackpost& p) {
        std::lock_guard<std::mutex> guard(p.textLock);
        const std::deque<std::string> texts = p.outbox.texts();
        return std::vector<std::string>(texts.begin(), texts.end());
    }
    static std::string status(CTrackpost& p) { return spfLoadText(p.status, sizeof p.status); }
    static std::string tweetTemplate(CTrackpost& p) {
        return spfLoadText(p.tweetTemplate, sizeof p.tweetTemplate);
    }
    static const char* access(CTrackpost& p) { return p.access; }
    static bool workerRunning(CTrackpost& p) { return p.deckWorker.started(); }
    static void setDialogs(CTrackpost& p, std::unique_ptr<TrackpostDialogs> dialogs) {
        p.dialogs = std::move(dialogs);
    }
    static bool loggedIn(CTrackpost& p) { return p.loggedIn; }
    static MastodonNetwork& mastodon(CTrackpost& p) { return *p.mastodon; }
    static BlueskyNetwork& bluesky(CTrackpost& p) { return *p.bluesky; }
    static void blueskyQueue(CTrackpost& p, const std::string& text) {
        p.bluesky->queueTyped(text);
    }
    static void mastodonQueue(CTrackpost& p, const std::string& text) {
        p.mastodon->queueTyped(text);
    }
    // Only while the worker is paused.
    static twitterClient& client(CTrackpost& p) { return p.client; }
    static void queue(CTrackpost& p, const std::string& text,
                      TextOrigin origin = TextOrigin::Typed) {
        p.queueText(text, origin);
    }
};

// A plug-in object made by the factory, as the host makes it.
inline CTrackpost* makePlugin(ISpfHost8* host) {
    void* object = nullptr;
    if (DllGetClassObject(CLSID_SpfPlugin8, IID_ISpfPluginBasic8, &object) != SPF_OK)
        return nullptr;
    auto* plugin = static_cast<CTrackpost*>(static_cast<ISpfPlugin8*>(object));
    plugin->host = host;
    return plugin;
}

// A plug-in made by the factory for `host` and loaded, its worker stepped by `pacing` and its
// dialogs answered by `user`; null when it can't be loaded.
inline CTrackpost* loadScripted(ScriptedHost& host, std::shared_ptr<ScriptedDialogs::Script> user,
                                SteppedPacing*& pacing) {
    CTrackpost* plugin = makePlugin(&host);
    if (plugin == nullptr) return nullptr;
    auto owned = std::make_unique<SteppedPacing>();
    pacing = owned.get();
    CTrackpostTestAccess::setPacing(*plugin, std::move(owned));
    CTrackpostTestAccess::setDialogs(*plugin, std::make_unique<ScriptedDialogs>(std::move(user)));
    if (plugin->OnLoad() == SPF_OK) return plugin;
    plugin->Release();
    return nullptr;
}

// A loaded plug-in whose worker runs one pass at a time.
class LoadedPlugin : public ::testing::Test {
  protected:
    void load() {
        plugin = loadScripted(host, user, pacing);
        ASSERT_NE(plugin, nullptr);
        pacing->awaitPauses(1);  // the first pass runs at once
    }

    void TearDown() override {
        if (plugin) plugin->Release();
    }

    std::vector<std::string> outbox() { return CTrackpostTestAccess::outbox(*plugin); }

    // The host flips a switch or a button and tells the plug-in.
    void setValue(std::int32_t id, std::int32_t value) {
        spfStoreInt32(host.storage<std::int32_t>(id), value);
        plugin->OnParameter(id);
    }
    void pressButton(std::int32_t id) {
        setValue(id, 1);
        setValue(id, 0);
    }

    ScriptedHost host;
    std::shared_ptr<ScriptedDialogs::Script> user = std::make_shared<ScriptedDialogs::Script>();
    CTrackpost* plugin = nullptr;
    SteppedPacing* pacing = nullptr;
};

#endif
