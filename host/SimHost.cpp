#include "SimHost.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "spfSharedText.h"

namespace {

const char STATE_HEADER[] = "# spinforge-sim kept values: plug-in, parameter id, bytes in hex";
const char KEPT_TEXT_NAME[] = "Template";
const std::size_t MAX_TEXT_PARAMETER = 1 << 20;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string toHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

bool fromHex(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (std::size_t j = i; j < i + 2; ++j) {
            const int d = std::isdigit(static_cast<unsigned char>(hex[j])) ? hex[j] - '0'
                          : (hex[j] >= 'a' && hex[j] <= 'f')               ? hex[j] - 'a' + 10
                                                                           : -1;
            if (d < 0) return false;
            value = value * 16 + d;
        }
        bytes += static_cast<char>(value);
    }
    return true;
}

std::string baseName(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    const std::size_t dot = name.find('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

std::string millisecondsSince(std::chrono::steady_clock::time_point start) {
    char text[32];
    std::snprintf(
        text, sizeof text, "%.3f ms",
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Kept values

bool KeptValues::read(const std::string& path, std::string& error) {
    values_.clear();
    std::ifstream in(path);
    if (!in) return true;  // nothing kept yet
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t hexAt = line.rfind(' ');
        const std::size_t idAt = hexAt == std::string::npos ? hexAt : line.rfind(' ', hexAt - 1);
        std::string bytes;
        long id = 0;
        char* end = nullptr;
        if (idAt != std::string::npos && idAt > 0) {
            const std::string idText = line.substr(idAt + 1, hexAt - idAt - 1);
            id = std::strtol(idText.c_str(), &end, 10);
            if (idText.empty() || *end != '\0') end = nullptr;
        }
        if (end == nullptr || !fromHex(line.substr(hexAt + 1), bytes)) {
            values_.clear();
            error = path + ":" + std::to_string(number) + ": not a kept value";
            return false;
        }
        values_[{line.substr(0, idAt), static_cast<std::int32_t>(id)}] = bytes;
    }
    return true;
}

bool KeptValues::write(const std::string& path, std::string& error) const {
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << STATE_HEADER << "\n";
        for (const auto& [key, bytes] : values_)
            out << key.first << " " << key.second << " " << toHex(bytes) << "\n";
        out.flush();
        if (!out) {
            error = "can't write " + temporary;
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "can't replace " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

const std::string* KeptValues::find(const std::string& plugin, std::int32_t id) const {
    const auto it = values_.find({plugin, id});
    return it == values_.end() ? nullptr : &it->second;
}

void KeptValues::put(const std::string& plugin, std::int32_t id, std::string bytes) {
    values_[{plugin, id}] = std::move(bytes);
}

// ---------------------------------------------------------------------------------------------
// Loading and unloading

SimHost::SimHost(Console& console, Deck& deck, KeptValues& kept)
    : console_(console), deck_(deck), kept_(kept) {}

SimHost::~SimHost() {
    unload();
    if (library_ != nullptr) dlclose(library_);
}

bool SimHost::load(const std::string& libraryPath, std::string& error) {
    library_ = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        error = dlerror();
        return false;
    }
    const auto factory =
        reinterpret_cast<SpfGetClassObjectFn>(dlsym(library_, "DllGetClassObject"));
    if (factory == nullptr) {
        error = libraryPath + " exports no DllGetClassObject";
        return false;
    }
    const auto factoryStart = std::chrono::steady_clock::now();
    void* object = nullptr;
    const SPFRESULT made = factory(CLSID_SpfPlugin8, IID_ISpfPluginBasic8, &object);
    if (made != SPF_OK || object == nullptr) {
        char text[64];
        std::snprintf(text, sizeof text, "the factory refused: result 0x%08x",
                      static_cast<unsigned>(made));
        error = text;
        return false;
    }
    plugin_ = static_cast<ISpfPlugin8*>(object);
    plugin_->bundle = library_;
    plugin_->host = this;
    pluginKey_ = baseName(libraryPath);

    const SPFRESULT loadResult = plugin_->OnLoad();
    if (timings_) console_.event("timings: factory and OnLoad " + millisecondsSince(factoryStart));
    if (loadResult != SPF_OK)
        console_.error("OnLoad answered 0x" + [&] {
            char t[16];
            std::snprintf(t, sizeof t, "%08x", static_cast<unsigned>(loadResult));
            return std::string(t);
        }());

    TSpfPluginInfo8 info{};
    plugin_->OnGetPluginInfo(&info);
    console_.event(std::string("loaded ") + (info.pluginName ? info.pluginName : "(no name)") +
                   " by " + (info.author ? info.author : "(no author)") + " from " + libraryPath);

    TSpfPluginInterface8 ui{};
    plugin_->OnGetUserInterface(&ui);
    skinXml_.reset(const_cast<char*>(ui.skinXml));
    skinImage_.reset(const_cast<char*>(ui.imageData));
    if (ui.type != SPF_INTERFACE_SKIN || ui.skinXml == nullptr || ui.imageData == nullptr ||
        ui.imageSize <= 0) {
        error = "the plug-in handed over no skin (description or image missing)";
        unload();
        return false;
    }
    console_.event("skin: description of " + std::to_string(std::strlen(ui.skinXml)) +
                   " bytes, image of " + std::to_string(ui.imageSize) + " bytes");
    watchTexts();
    startWatcher();
    return true;
}

void SimHost::unload() {
    if (plugin_ == nullptr) return;
    stopWatcher();
    watchTexts();
    for (const DeclaredParameter& p : parameters_)
        if (isKept(p))
            kept_.put(pluginKey_, p.id, spfLoadBytes(static_cast<const char*>(p.storage), p.size));
    const auto releaseStart = std::chrono::steady_clock::now();
    plugin_->Release();
    if (timings_) console_.event("timings: Release " + millisecondsSince(releaseStart));
    plugin_ = nullptr;
    parameters_.clear();
    console_.event("released the plug-in");
}

// ---------------------------------------------------------------------------------------------
// The DJ's controls

const DeclaredParameter* SimHost::findParameter(const std::string& name, std::int32_t kind) const {
    const std::string wanted = lower(name);
    for (const DeclaredParameter& p : parameters_)
        if (p.kind == kind && (lower(p.name) == wanted || lower(p.shortName) == wanted)) return &p;
    return nullptr;
}

bool SimHost::press(const std::string& name, std::string& error) {
    const DeclaredParameter* p = findParameter(name, SPF_PARAM_BUTTON);
    if (p == nullptr) {
        error = "no button " + quoted(name);
        return false;
    }
    console_.event("press " + quoted(p->name));
    // Down, then up: the host calls the plug-in for both.
    const auto pressStart = std::chrono::steady_clock::now();
    spfStoreInt32(static_cast<std::int32_t*>(p->storage), 1);
    plugin_->OnParameter(p->id);
    spfStoreInt32(static_cast<std::int32_t*>(p->storage), 0);
    plugin_->OnParameter(p->id);
    // Boxes included: with their answers waiting on standard input, they take microseconds.
    if (timings_)
        console_.event("timings: OnParameter " + quoted(p->name) + " " +
                       millisecondsSince(pressStart));
    return true;
}

bool SimHost::setSwitch(const std::string& name, bool on, std::string& error) {
    const DeclaredParameter* p = findParameter(name, SPF_PARAM_SWITCH);
    if (p == nullptr) {
        error = "no switch " + quoted(name);
        return false;
    }
    console_.event(quoted(p->name) + (on ? " on" : " off"));
    spfStoreInt32(static_cast<std::int32_t*>(p->storage), on ? 1 : 0);
    plugin_->OnParameter(p->id);
    return true;
}

bool SimHost::isKept(const DeclaredParameter& p) {
    return p.kind == SPF_PARAM_SWITCH || p.kind == SPF_PARAM_KEPT_BLOCK ||
           (p.kind == SPF_PARAM_TEXT && p.name == KEPT_TEXT_NAME);
}

std::string SimHost::snapshotText(const DeclaredParameter& p) const {
    // The plug-in may be rewriting the text; two equal reads in a row are a whole one.
    std::string text = spfLoadText(static_cast<const char*>(p.storage), p.size);
    for (int tries = 0; tries < 8; ++tries) {
        std::string again = spfLoadText(static_cast<const char*>(p.storage), p.size);
        if (again == text) break;
        text = std::move(again);
    }
    return text;
}

void SimHost::watchTexts() {
    std::lock_guard<std::mutex> guard(watchLock_);
    for (const DeclaredParameter& p : parameters_) {
        if (p.kind != SPF_PARAM_TEXT) continue;
        std::string text = snapshotText(p);
        auto shown = shownTexts_.find(p.id);
        if (shown != shownTexts_.end() && shown->second == text) continue;
        console_.event(p.name + ": " + quoted(text));
        shownTexts_[p.id] = std::move(text);
    }
}

void SimHost::startWatcher() {
    watching_ = true;
    watcher_ = std::thread([this] {
#ifdef __linux__
        // Named so that measurements tell the host's thread from the plug-in's.
        pthread_setname_np(pthread_self(), "sim-watcher");
#endif
        while (watching_) {
            watchTexts();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
}

void SimHost::stopWatcher() {
    watching_ = false;
    if (watcher_.joinable()) watcher_.join();
}

std::optional<std::string> SimHost::valueOf(const std::string& name) {
    if (!name.empty() && name[0] == '$') {
        std::lock_guard<std::mutex> guard(variablesLock_);
        const auto it = variables_.find(name.substr(1));
        if (it == variables_.end()) return std::nullopt;
        return it->second;
    }
    const DeclaredParameter* p = findParameter(name, SPF_PARAM_TEXT);
    if (p == nullptr) return std::nullopt;
    return snapshotText(*p);
}

void SimHost::showStatus() {
    for (const DeclaredParameter& p : parameters_) {
        if (p.kind == SPF_PARAM_TEXT)
            console_.plain("  " + p.name + ": " + quoted(snapshotText(p)));
        else if (p.kind == SPF_PARAM_SWITCH)
            console_.plain("  " + p.name + ": " +
                           (spfLoadInt32(static_cast<std::int32_t*>(p.storage)) ? "on" : "off"));
    }
    {
        std::lock_guard<std::mutex> guard(variablesLock_);
        for (const auto& [name, value] : variables_) console_.plain("  $" + name + " = " + value);
    }
    const std::size_t n = deck_.loaded();
    char delay[32];
    std::snprintf(delay, sizeof delay, "%g", deck_.historyDelay());
    console_.plain("  deck: " +
                   (n ? "track " + std::to_string(n) + " " + quoted(deck_.track(n).label())
                      : std::string("empty")) +
                   (deck_.playing() ? ", playing" : ", stopped") + ", history delay " + delay +
                   " s");
}

// ---------------------------------------------------------------------------------------------
// The host's callbacks

bool SimHost::onHostThread(const char* callback, const std::string& detail) {
    if (std::this_thread::get_id() == hostThread_) return true;
    contractBroken_ = true;
    console_.error(std::string("host: contract broken: ") + callback +
                   " called on another thread than the host's (" + detail + "); refused");
    return false;
}

void SimHost::refresh() {
    if (plugin_ == nullptr) return;
    char shown[256];
    for (const DeclaredParameter& p : parameters_)
        if (p.kind == SPF_PARAM_TEXT) plugin_->OnGetParameterString(p.id, shown, sizeof shown);
}

SPFRESULT SimHost::runCommand(const char* command) {
    if (command == nullptr) return SPF_FAIL;
    if (!onHostThread("runCommand", quoted(command))) return SPF_FAIL;
    std::istringstream words(command);
    std::string verb, variable, value, extra;
    if (words >> verb >> variable >> value && !(words >> extra) && verb == "set" &&
        variable.size() > 1 && variable[0] == '$') {
        const std::string name = variable.substr(1);
        std::lock_guard<std::mutex> guard(variablesLock_);
        auto it = variables_.find(name);
        if (it == variables_.end() || it->second != value) {
            variables_[name] = value;
            console_.event("host variable $" + name + " = " + value);
        }
        return SPF_OK;
    }
    console_.error("host: unknown command " + quoted(command));
    return SPF_FAIL;
}

SPFRESULT SimHost::queryNumber(const char* query, double* out) {
    if (query == nullptr || out == nullptr) return SPF_FAIL;
    const std::optional<double> answer = deck_.answerNumber(query);
    if (!answer) return SPF_FAIL;
    *out = *answer;
    return SPF_OK;
}

SPFRESULT SimHost::queryText(const char* query, char* out, std::int32_t size) {
    if (query == nullptr || out == nullptr || size <= 0) return SPF_FAIL;
    const std::optional<std::string> field = Deck::songField(query);
    if (!field) return SPF_FAIL;
    const std::string answer = deck_.loadedField(*field);
    spfStoreText(out, static_cast<std::size_t>(size), answer);
    // The file identity is polled all the time; other fields are read to compose a tweet.
    if (*field != "drive" && *field != "filepath" && *field != "filename")
        console_.event("plug-in reads the track's " + *field + ": " + quoted(answer));
    return SPF_OK;
}

SPFRESULT SimHost::declareParameter(void* storage, std::int32_t kind, std::int32_t id,
                                    const char* name, const char* shortName, float value) {
    DeclaredParameter p{storage, kind, id, name ? name : "", shortName ? shortName : "", 0};
    if (!onHostThread("declareParameter", quoted(p.name))) return SPF_FAIL;
    switch (kind) {
        case SPF_PARAM_BUTTON:
        case SPF_PARAM_SWITCH:
            p.size = sizeof(std::int32_t);
            break;
        case SPF_PARAM_TEXT:
        case SPF_PARAM_KEPT_BLOCK:
            if (std::isfinite(value) && value >= 1 && value <= MAX_TEXT_PARAMETER)
                p.size = static_cast<std::size_t>(value);
            break;
        default:
            break;
    }
    if (storage == nullptr || p.size == 0) {
        console_.error("host: ignored the declaration of " + quoted(p.name) + " (kind " +
                       std::to_string(kind) + ", size " + std::to_string(value) + ")");
        return SPF_FAIL;
    }
    const std::string* keptBytes = isKept(p) ? kept_.find(pluginKey_, id) : nullptr;
    if (keptBytes != nullptr && keptBytes->size() == p.size) {
        std::memcpy(storage, keptBytes->data(), p.size);
        console_.event("restored " + quoted(p.name));
    }
    parameters_.push_back(std::move(p));
    return SPF_OK;
}
