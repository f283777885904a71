#ifndef SPINFORGE_SIM_DECK_H
#define SPINFORGE_SIM_DECK_H

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One track of a playlist file: tab-separated drive, path, file name, title, artist, remix,
// comment, album, genre, year.
struct Track {
    std::map<std::string, std::string> fields;  // keyed by the host's field names
    std::string label() const;                  // "artist - title"
};

// Reads a playlist file; false with a message naming the line on a malformed one.
bool readPlaylist(const std::string& path, std::vector<Track>& tracks, std::string& error);

// The active deck and the host's settings, as the plug-in's queries see them. Commands come from
// the simulator's thread, queries from any thread.
class Deck {
  public:
    explicit Deck(std::vector<Track> playlist);

    // Loads track `number` (1-based); false when there is none.
    bool load(std::size_t number);
    // The track after the loaded one (the first when none is loaded); false past the end.
    bool loadNext();
    void setPlaying(bool playing);
    void setHistoryDelay(double seconds);

    std::size_t size() const { return playlist_.size(); }
    const Track& track(std::size_t number) const { return playlist_.at(number - 1); }
    std::size_t loaded() const;  // 0 when none
    bool playing() const;
    double historyDelay() const;

    // The loaded track's field (a name from songField); empty while the deck is empty.
    std::string loadedField(const std::string& field) const;
    // Answers "deck active play" and "setting 'historyDelay'"; nothing for other queries.
    std::optional<double> answerNumber(const std::string& query) const;

    // The field a "deck active get_loaded_song" query asks for, or nothing.
    static std::optional<std::string> songField(const std::string& query);

  private:
    const std::vector<Track> playlist_;
    mutable std::mutex lock_;
    std::size_t loaded_ = 0;
    bool playing_ = false;
    double historyDelay_ = 45.0;
};

#endif
