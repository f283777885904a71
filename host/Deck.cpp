#include "Deck.h"

#include <fstream>
#include <sstream>

namespace {

const char* const FIELD_NAMES[] = {"drive", "filepath", "filename", "title", "artist",
                                   "remix", "comment",  "album",    "genre", "year"};
const std::size_t FIELD_COUNT = sizeof FIELD_NAMES / sizeof FIELD_NAMES[0];

const std::string SONG_QUERY_PREFIX = "deck active get_loaded_song '";

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
        parts.push_back(line.substr(from, tab - from));
    parts.push_back(line.substr(from));
    return parts;
}

}  // namespace

std::string Track::label() const {
    return fields.at("artist") + " - " + fields.at("title");
}

bool readPlaylist(const std::string& path, std::vector<Track>& tracks, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "can't read the playlist " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> parts = splitTabs(line);
        if (parts.size() != FIELD_COUNT) {
            std::ostringstream msg;
            msg << path << ":" << number << ": " << parts.size() << " fields, expected "
                << FIELD_COUNT << " separated by tabs";
            error = msg.str();
            return false;
        }
        Track track;
        for (std::size_t i = 0; i < FIELD_COUNT; ++i) track.fields[FIELD_NAMES[i]] = parts[i];
        tracks.push_back(std::move(track));
    }
    return true;
}

Deck::Deck(std::vector<Track> playlist) : playlist_(std::move(playlist)) {}

bool Deck::load(std::size_t number) {
    if (number == 0 || number > playlist_.size()) return false;
    std::lock_guard<std::mutex> guard(lock_);
    loaded_ = number;
    return true;
}

bool Deck::loadNext() {
    return load(loaded() + 1);
}

void Deck::setPlaying(bool playing) {
    std::lock_guard<std::mutex> guard(lock_);
    playing_ = playing;
}

void Deck::setHistoryDelay(double seconds) {
    std::lock_guard<std::mutex> guard(lock_);
    historyDelay_ = seconds;
}

std::size_t Deck::loaded() const {
    std::lock_guard<std::mutex> guard(lock_);
    return loaded_;
}

bool Deck::playing() const {
    std::lock_guard<std::mutex> guard(lock_);
    return playing_;
}

double Deck::historyDelay() const {
    std::lock_guard<std::mutex> guard(lock_);
    return historyDelay_;
}

std::optional<std::string> Deck::songField(const std::string& query) {
    if (query.size() <= SONG_QUERY_PREFIX.size() ||
        query.compare(0, SONG_QUERY_PREFIX.size(), SONG_QUERY_PREFIX) != 0 || query.back() != '\'')
        return std::nullopt;
    const std::string field =
        query.substr(SONG_QUERY_PREFIX.size(), query.size() - SONG_QUERY_PREFIX.size() - 1);
    for (const char* known : FIELD_NAMES)
        if (field == known) return field;
    return std::nullopt;
}

std::string Deck::loadedField(const std::string& field) const {
    std::lock_guard<std::mutex> guard(lock_);
    // An empty deck answers empty fields, as the host does.
    if (loaded_ == 0) return std::string();
    return playlist_[loaded_ - 1].fields.at(field);
}

std::optional<double> Deck::answerNumber(const std::string& query) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (query == "deck active play") return playing_ ? 1.0 : 0.0;
    if (query == "setting 'historyDelay'") return historyDelay_;
    return std::nullopt;
}
