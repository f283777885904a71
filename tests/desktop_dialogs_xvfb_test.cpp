// The desktop's boxes for real: zenity under Xvfb, answered through xdotool as a user would, with
// a screenshot of each box. Each box has a headline of its own, so the user finds the right one.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "DialogsDesktop.h"
#include "desktop_user.h"

namespace {

// What the user does at a box: types (into the field, whose text starts selected), moves the
// focus with `moves`, and answers with `answer`.
struct Answer {
    std::optional<std::string> typed;
    std::vector<std::string> moves;
    std::string answer;
};

std::string answerBox(const std::string& headline, const Answer& a, const std::string& shot) {
    const std::optional<std::string> window = desktop_user::waitForWindow(headline);
    if (!window) return "no box titled \"" + headline + "\" came";
    if (!desktop_user::activate(*window)) return "the box took no focus";
    if (a.typed && !desktop_user::type(*a.typed)) return "xdotool failed to type";
    for (const std::string& key : a.moves)
        if (!desktop_user::key(key)) return "xdotool failed to press " + key;
    if (!desktop_user::screenshot(shot)) return "no screenshot " + shot;
    if (!desktop_user::key(a.answer)) return "xdotool failed to press " + a.answer;
    return "";
}

// Runs the modal `call` on another thread while this one answers the box; a box that stays open
// is closed, so that the test fails instead of hanging.
template <typename Call>
auto whileAnswering(Call call, const std::string& headline, const Answer& a,
                    const std::string& shot) {
    auto box = std::async(std::launch::async, call);
    EXPECT_EQ(answerBox(headline, a, shot), "");
    if (box.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the box stayed open";
        desktop_user::run({"xdotool", "search", "--name", "^" + headline + "$", "windowkill"});
    }
    return box.get();
}

// In a GTK question box the focus goes from the text to "No", then to "Yes".
TEST(DesktopDialogsOnXvfb, RequestIsTrueExactlyForYes) {
    const struct {
        const char* button;
        Answer answer;
        bool yes;
    } cases[] = {
        {"Yes", {std::nullopt, {"Tab", "Tab", "Tab"}, "space"}, true},
        {"No", {std::nullopt, {"Tab", "Tab"}, "space"}, false},
    };
    DesktopDialogs dialogs;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        const std::string headline = std::string("Trackpost question ") + c.button;
        const bool yes = whileAnswering(
            [&] {
                return dialogs.showRequest(
                    "Would you like to open your browser to enable this application in your "
                    "twitter account?",
                    headline);
            },
            headline, c.answer, std::string("zenity-request-") + c.button);
        EXPECT_EQ(yes, c.yes);
    }
}

TEST(DesktopDialogsOnXvfb, InputIsTheFieldOnOkAndTheDefaultOnCancel) {
    const std::string templateText = "Now playing %ARTIST% - %TITLE% on #Spinforge";
    const std::string nonAscii = "Grüße aus Köln – Привет €";
    const struct {
        const char* name;
        std::string defaultValue;
        Answer answer;
        std::string result;
    } cases[] = {
        {"untouched", templateText, {std::nullopt, {}, "Return"}, templateText},
        {"typed", templateText, {nonAscii, {}, "Return"}, nonAscii},
        {"cleared", "1234567", {std::nullopt, {"BackSpace"}, "Return"}, ""},
        {"cancelled", "1234567", {"890", {}, "Escape"}, "1234567"},
    };
    DesktopDialogs dialogs;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string headline = std::string("Trackpost input ") + c.name;
        const std::string result = whileAnswering(
            [&] {
                return dialogs.getInput("Please enter your tweet template", headline,
                                        c.defaultValue);
            },
            headline, c.answer, std::string("zenity-input-") + c.name);
        EXPECT_EQ(result, c.result);
    }
}

// The hidden entry starts empty; what is typed comes back on OK, nothing on cancel.
TEST(DesktopDialogsOnXvfb, SecretIsTheHiddenFieldOnOkAndNothingOnCancel) {
    const std::string secret = "pa55 wörd € x";
    const struct {
        const char* name;
        Answer answer;
        std::optional<std::string> result;
    } cases[] = {
        {"typed", {secret, {}, "Return"}, secret},
        {"empty", {std::nullopt, {}, "Return"}, ""},
        {"cancelled", {secret, {}, "Escape"}, std::nullopt},
    };
    DesktopDialogs dialogs;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string headline = std::string("Trackpost secret ") + c.name;
        const std::optional<std::string> result =
            whileAnswering([&] { return dialogs.getSecret("Enter your app password", headline); },
                           headline, c.answer, std::string("zenity-secret-") + c.name);
        EXPECT_EQ(result, c.result);
    }
}

// The worker's error report: the call is back before the box is there, and the box stays until
// the user closes it.
TEST(DesktopDialogsOnXvfb, MessageReturnsAtOnceAndItsBoxAppears) {
    const std::string headline = "Trackpost message";
    DesktopDialogs dialogs;
    auto worker = std::async(std::launch::async,
                             [&] { dialogs.showMessage("Couldn't connect to server", headline); });
    ASSERT_EQ(worker.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "showMessage waited for its box";
    EXPECT_EQ(answerBox(headline, {std::nullopt, {}, "Return"}, "zenity-message"), "");
    EXPECT_TRUE(eventually([&] { return !desktop_user::windowShown(headline); },
                           std::chrono::seconds(30), desktop_user::POLL))
        << "the box stayed open";
}

}  // namespace
