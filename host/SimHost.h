#ifndef SPINFORGE_SIM_HOST_H
#define SPINFORGE_SIM_HOST_H

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Console.h"
#include "Deck.h"
#include "spfPlugin8.h"

// A parameter the plug-in declared: its storage lives in the plug-in object.
struct DeclaredParameter {
    void* storage;
    std::int32_t kind;
    std::int32_t id;
    std::string name;
    std::string shortName;
    std::size_t size;  // bytes of storage
};

// What the host keeps between runs, per plug-in and parameter id: the storage's bytes.
class KeptValues {
  public:
    // Reads a state file; a missing file is an empty state. False with a message on a damaged
    // one (the state is then empty).
    bool read(const std::string& path, std::string& error);
    // Writes the whole state through a temporary file, so a crash never leaves half a file.
    bool write(const std::string& path, std::string& error) const;

    const std::string* find(const std::string& plugin, std::int32_t id) const;
    void put(const std::string& plugin, std::int32_t id, std::string bytes);

  private:
    std::map<std::pair<std::string, std::int32_t>, std::string> values_;
};

// The stand-in host: loads a plug-in library through its factory, answers its callbacks from the
// deck, and drives it as the DJ would. Its thread is the one that made it: every call into the
// plug-in comes from there, and a host-only callback (runCommand, declareParameter) from any other
// thread is refused and reported, and breaks the contract for the rest of the run.
class SimHost : public ISpfHost8 {
  public:
    SimHost(Console& console, Deck& deck, KeptValues& kept);
    ~SimHost();

    // dlopen, factory, base data, OnLoad, OnGetPluginInfo, OnGetUserInterface.
    bool load(const std::string& libraryPath, std::string& error);
    // Keeps what the host keeps, then Release; the library stays mapped until exit.
    void unload();
    bool loaded() const { return plugin_ != nullptr; }
    // Prints how long the factory with OnLoad, and Release, took.
    void reportTimings(bool on) { timings_ = on; }

    // Press and release a button, by name or short name (any case).
    bool press(const std::string& name, std::string& error);
    // Set a switch, by name or short name.
    bool setSwitch(const std::string& name, bool on, std::string& error);

    // The host refreshes its display between the user's actions: it asks the plug-in for the
    // string of each text it shows.
    void refresh();
    // A host-only callback came from another thread than the host's.
    bool contractBroken() const { return contractBroken_; }

    // Prints the texts, switches and host variables.
    void showStatus();
    // A text the plug-in shows, by name, or a host variable, by "$name"; none when there is no
    // such text or the variable was never set.
    std::optional<std::string> valueOf(const std::string& name);
    // Prints any text parameter that changed since the last look.
    void watchTexts();

    // ISpfHost8
    SPFRESULT runCommand(const char* command) override;
    SPFRESULT queryNumber(const char* query, double* out) override;
    SPFRESULT queryText(const char* query, char* out, std::int32_t size) override;
    SPFRESULT declareParameter(void* storage, std::int32_t kind, std::int32_t id, const char* name,
                               const char* shortName, float value) override;

    // The kinds the host keeps: switches, kept blocks and the user's template text.
    static bool isKept(const DeclaredParameter& p);

  private:
    const DeclaredParameter* findParameter(const std::string& name, std::int32_t kind) const;
    // False, with a report, when a host-only callback comes from another thread.
    bool onHostThread(const char* callback, const std::string& detail);
    std::string snapshotText(const DeclaredParameter& p) const;
    void startWatcher();
    void stopWatcher();

    const std::thread::id hostThread_ = std::this_thread::get_id();
    std::atomic<bool> contractBroken_{false};
    Console& console_;
    Deck& deck_;
    KeptValues& kept_;
    void* library_ = nullptr;
    ISpfPlugin8* plugin_ = nullptr;
    std::string pluginKey_;  // the library's file name, which keys the kept values
    bool timings_ = false;
    std::vector<DeclaredParameter> parameters_;
    std::mutex variablesLock_;  // variables_: the plug-in's worker may set one too
    std::map<std::string, std::string> variables_;
    std::map<std::int32_t, std::string> shownTexts_;
    std::unique_ptr<char[]> skinXml_;
    std::unique_ptr<char[]> skinImage_;

    std::mutex watchLock_;  // shownTexts_
    std::atomic<bool> watching_{false};
    std::thread watcher_;
};

#endif
