#ifndef TRACKPOST_NETWORKS_NETWORK_H
#define TRACKPOST_NETWORKS_NETWORK_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Outbox.h"
#include "TextPart.h"
#include "WorkerPacing.h"
#include "spfPlugin8.h"

class Network;

// What a network asks of the plug-in: the user's boxes (headed with the plug-in's name) and the
// host's variables, which are handed to the host on its thread.
class NetworkHost {
  public:
    virtual ~NetworkHost() = default;
    virtual void showMessage(const std::string& text) = 0;
    // Nothing on cancel.
    virtual std::optional<std::string> askInput(const std::string& text,
                                                const std::string& value) = 0;
    // A masked box, its answer never shown; nothing on cancel.
    virtual std::optional<std::string> askSecret(const std::string& text) = 0;
    virtual bool showRequest(const std::string& text) = 0;
    // A login of `network` begins: the PIN button goes to it from now on.
    virtual void pinsGoTo(Network& network) = 0;
    // Hands a login's page to the browser; safe from any thread.
    virtual void openLoginPage(const std::string& url) = 0;
    virtual void setHostVariable(const char* name, bool on) = 0;
};

// A network beside X: its own login, queue, status text, kept block, host variable and worker.
// The host's thread declares it, loads it, hands it presses and texts; its worker runs `pass`.
class Network {
  public:
    virtual ~Network() = default;
    virtual const char* name() const = 0;

    // The host's thread, at load: its parameters, then the kept login restored (checked later
    // on the worker) and everything of an earlier load forgotten.
    virtual void declareParameters(ISpfHost8& host) = 0;
    virtual void load() = 0;
    // A host's change of one of its parameters (a button acts on release); false when the id
    // is not one of its own.
    virtual bool onParameter(std::int32_t id) = 0;
    // The PIN button, when this network's login opened a page last.
    virtual void pressPin() = 0;

    // Whether texts go to it: a login kept, under way or lost, but not logged out.
    virtual bool takesTexts() = 0;
    // Queues the announcement fitted to its limit.
    virtual void queueAnnouncement(const std::vector<TextPart>& parts, TextOrigin origin) = 0;
    // What the input box says when a typed text passes its limit; nothing when it fits.
    virtual std::optional<std::string> tooLong(const std::string& text) = 0;
    virtual void queueTyped(std::string text) = 0;
    virtual bool loggedIn() const = 0;

    // Its worker: one pass, and how long it may idle after (see PassThread).
    virtual WorkerPacing& pacing() = 0;
    virtual std::int64_t pass() = 0;
    // From any thread: a transfer under way ends at once, and every later one, until allowed.
    virtual void abortTransfers() = 0;
    virtual void allowTransfers() = 0;
};

#endif
