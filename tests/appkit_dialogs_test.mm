// The plug-in's macOS dialogs and resources (Trackpost.mm, PluginResources_cf.cpp) on GNUstep's
// AppKit under Xvfb: the main thread runs each box as the host's thread does on macOS, while a
// second thread plays the user with xdotool and takes a screenshot of the box.
#import <AppKit/AppKit.h>
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <objc/runtime.h>
#include <stdlib.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Trackpost.h"
#include "desktop_user.h"

namespace {

namespace fs = std::filesystem;

struct Point {
    int x = 0, y = 0;
};

// What the open modal box shows, as the main thread last looked at it.
struct Box {
    const void* window = nullptr;          // null: no box open
    bool key = false;                      // it has the keyboard
    std::map<std::string, Point> buttons;  // centres in the screen's X coordinates, by title
    std::optional<Point> field;            // the text field, if there is one
    bool secure = false;                   // the field shows bullets for what is typed
    bool editing = false;                  // the field has the keyboard
    std::string fieldText;
    std::vector<std::string> texts;  // everything else the box says
};

std::mutex seenLock;
Box seen;
// Set by a user who could not answer: the box is closed for them, so the test fails, not hangs.
std::atomic<bool> userGaveUp{false};

Box currentBox() {
    std::lock_guard<std::mutex> guard(seenLock);
    return seen;
}

std::string utf8(NSString* s) {
    return s != nil ? std::string([s UTF8String]) : std::string();
}

Point centreOnScreen(NSView* view) {
    const NSRect inWindow = [view convertRect:[view bounds] toView:nil];
    const NSPoint onScreen =
        [[view window] convertBaseToScreen:NSMakePoint(NSMidX(inWindow), NSMidY(inWindow))];
    const CGFloat screenHeight = NSHeight([[NSScreen mainScreen] frame]);  // X counts from the top
    return {static_cast<int>(std::lround(onScreen.x)),
            static_cast<int>(std::lround(screenHeight - onScreen.y))};
}

void describe(NSView* view, NSWindow* window, Box& box) {
    if ([view isKindOfClass:[NSButton class]]) {
        const std::string title = utf8([(NSButton*)view title]);
        if (!title.empty()) box.buttons[title] = centreOnScreen(view);
    } else if ([view isKindOfClass:[NSTextField class]]) {
        NSTextField* field = (NSTextField*)view;
        if ([field isEditable]) {
            box.field = centreOnScreen(view);
            box.secure = [field isKindOfClass:[NSSecureTextField class]] &&
                         [(NSSecureTextField*)field echosBullets];
            // The editor is the one that has the keyboard for this field: the window's shared
            // field editor, or for a secure field one of its own.
            NSResponder* responder = [window firstResponder];
            NSText* editor =
                [responder isKindOfClass:[NSText class]] && [(NSText*)responder delegate] == field
                    ? (NSText*)responder
                    : nil;
            box.editing = editor != nil;
            box.fieldText = utf8(box.editing ? [editor string] : [field stringValue]);
        } else if ([[field stringValue] length] > 0) {
            box.texts.push_back(utf8([field stringValue]));
        }
    }
    for (NSView* sub in [view subviews]) describe(sub, window, box);
}

}  // namespace

// Looks at the modal box from the main thread's run loop, in the modal mode too, and leaves what
// it saw for the user's thread.
@interface BoxWatcher : NSObject
- (void)look:(NSTimer*)timer;
@end

@implementation BoxWatcher
- (void)look:(NSTimer*)timer {
    (void)timer;
    Box box;
    @autoreleasepool {
        NSWindow* window = [NSApp modalWindow];
        if (window != nil && userGaveUp.exchange(false)) {
            [NSApp stopModalWithCode:NSAlertErrorReturn];
            // The modal loop sees the stop once an event wakes it.
            [NSApp postEvent:[NSEvent otherEventWithType:NSApplicationDefined
                                                location:NSZeroPoint
                                           modifierFlags:0
                                               timestamp:0
                                            windowNumber:[window windowNumber]
                                                 context:nil
                                                 subtype:0
                                                   data1:0
                                                   data2:0]
                     atStart:NO];
        }
        if (window != nil && [window isVisible]) {
            box.window = window;
            box.key = [window isKeyWindow];
            describe([window contentView], window, box);
        }
    }
    std::lock_guard<std::mutex> guard(seenLock);
    seen = box;
}
@end

namespace {

void watchBoxes() {
    static BoxWatcher* watcher = [[BoxWatcher alloc] init];
    NSTimer* timer = [NSTimer timerWithTimeInterval:0.05
                                             target:watcher
                                           selector:@selector(look:)
                                           userInfo:nil
                                            repeats:YES];
    for (NSString* mode in @[ NSDefaultRunLoopMode, NSModalPanelRunLoopMode ])
        [[NSRunLoop mainRunLoop] addTimer:timer forMode:mode];
}

// The user's side of one box. Each step returns what went wrong, or nothing.
class User {
  public:
    // Waits for a new box that has the keyboard and a button titled `button`.
    std::string awaitBox(const std::string& button) {
        const bool shown = eventually([&] {
            box = currentBox();
            return box.window != nullptr && box.window != previous && box.key &&
                   box.buttons.count(button) != 0;
        });
        if (!shown)
            return "no box with the button \"" + button +
                   "\" came (seen: " + (box.window ? "a box" : "none") +
                   (box.key ? ", with the keyboard, " : ", ") + std::to_string(box.buttons.size()) +
                   " buttons)";
        return "";
    }

    // Clicks into the field, erases what it holds and types `text`; the field must show `shown`.
    std::string editField(bool erase, const std::string& text, const std::string& shown) {
        if (!box.field) return "the box has no text field";
        if (!desktop_user::click(box.field->x, box.field->y)) return "xdotool failed to click";
        if (!eventually([] { return currentBox().editing; }, std::chrono::seconds(10)))
            return "the field took no keyboard";
        if (erase && !(desktop_user::key("End") &&
                       desktop_user::key("BackSpace", static_cast<int>(box.fieldText.size()))))
            return "xdotool failed to erase";
        if (!text.empty() && !desktop_user::type(text)) return "xdotool failed to type";
        if (!eventually([&] { return currentBox().fieldText == shown; }, std::chrono::seconds(15)))
            return "the field shows \"" + currentBox().fieldText + "\"";
        return "";
    }

    std::string screenshot(const std::string& name) {
        return desktop_user::screenshot(name) ? "" : "no screenshot " + name;
    }

    // Presses until the box closes: a click the server lost is tried again, a few times.
    std::string press(const std::string& title) {
        const Point at = box.buttons.at(title);
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!desktop_user::click(at.x, at.y)) return "xdotool failed to click";
            if (eventually([&] { return currentBox().window != box.window; },
                           std::chrono::seconds(5))) {
                previous = box.window;
                return "";
            }
        }
        return "the box stayed open after pressing \"" + title + "\"";
    }

    Box box;

  private:
    const void* previous = nullptr;
};

// Runs the main thread's run loop, as the host does between calls, until `done` is ready.
template <typename Future>
void runMainLoopUntil(Future& done) {
    while (done.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        @autoreleasepool {
            [[NSRunLoop mainRunLoop] runMode:NSDefaultRunLoopMode
                                  beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
        }
    }
}

// Starts the user's thread; its report says what went wrong, empty when all went as planned.
template <typename Answer>
std::future<std::string> startUser(Answer user) {
    userGaveUp = false;
    return std::async(std::launch::async, [user] {
        std::string report = user();
        if (!report.empty()) userGaveUp = true;
        return report;
    });
}

// Runs `showBox` on this (the main) thread while `user` answers on another, then gives the
// user's report of what went wrong (empty when all went as planned) in `userReport`.
template <typename ShowBox, typename Answer>
auto answered(ShowBox showBox, Answer user, std::string& userReport) {
    auto answering = startUser(user);
    auto result = showBox();
    runMainLoopUntil(answering);  // the user sees the box close; every step is bounded
    userReport = answering.get();
    return result;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char LOGIN_QUESTION[] =
    "Would you like to open your browser to enable this application in your twitter account?";

TEST(AppKitDialogs, RequestIsTrueExactlyForYes) {
    const std::pair<const char*, bool> cases[] = {{"Yes", true}, {"No", false}};
    const std::unique_ptr<TrackpostDialogs> dialogs = makePlatformDialogs();
    for (const auto& [button, yes] : cases) {
        SCOPED_TRACE(button);
        std::string report;
        const bool answer =
            answered([&] { return dialogs->showRequest(LOGIN_QUESTION, "Trackpost"); },
                     [button = std::string(button)] {
                         User user;
                         std::string error = user.awaitBox("Yes");
                         if (error.empty() && user.box.buttons.count("No") == 0)
                             error = "the box has no \"No\"";
                         if (error.empty()) error = user.screenshot("appkit-request-" + button);
                         return error.empty() ? user.press(button) : error;
                     },
                     report);
        EXPECT_EQ(report, "");
        EXPECT_EQ(answer, yes);
    }
}

TEST(AppKitDialogs, InputIsTheFieldOnOkAndTheDefaultOnCancel) {
    struct Case {
        const char* name;
        std::string defaultValue;
        bool erase;         // the user first empties the field (ASCII defaults only)
        std::string typed;  // then types this
        std::string shown;  // and the field shows this
        const char* button;
        std::string answer;
    };
    const std::string templateText = "Now playing %ARTIST% - %TITLE% on #Spinforge";
    const std::string nonAscii = "Grüße aus Köln – Привет €";
    const Case cases[] = {
        {"untouched", templateText, false, "", templateText, "OK", templateText},
        {"typed", "", false, nonAscii, nonAscii, "OK", nonAscii},
        {"cleared", "1234567", true, "", "", "OK", ""},
        {"cancelled", "1234567", true, "890", "890", "Cancel", "1234567"},
    };
    const std::unique_ptr<TrackpostDialogs> dialogs = makePlatformDialogs();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string report;
        const std::string answer = answered(
            [&] {
                return dialogs->getInput("Please enter your tweet template", "Trackpost",
                                         c.defaultValue);
            },
            [&c] {
                User user;
                std::string error = user.awaitBox("OK");
                if (error.empty() && user.box.fieldText != c.defaultValue)
                    error = "the field starts with \"" + user.box.fieldText + "\"";
                if (error.empty() && user.box.secure) error = "the field hides its text";
                if (error.empty() && (c.erase || !c.typed.empty()))
                    error = user.editField(c.erase, c.typed, c.shown);
                if (error.empty()) error = user.screenshot(std::string("appkit-input-") + c.name);
                return error.empty() ? user.press(c.button) : error;
            },
            report);
        EXPECT_EQ(report, "");
        EXPECT_EQ(answer, c.answer);
    }
}

TEST(AppKitDialogs, SecretIsTheSecureFieldOnOkAndNothingOnCancel) {
    struct Case {
        const char* name;
        std::string typed;
        const char* button;
        std::optional<std::string> answer;
    };
    const std::string secret = "pa55 wörd € x";
    const Case cases[] = {
        {"typed", secret, "OK", secret},
        {"empty", "", "OK", ""},
        {"cancelled", secret, "Cancel", std::nullopt},
    };
    const std::unique_ptr<TrackpostDialogs> dialogs = makePlatformDialogs();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string report;
        const std::optional<std::string> answer =
            answered([&] { return dialogs->getSecret("Enter your app password", "Trackpost"); },
                     [&c] {
                         User user;
                         std::string error = user.awaitBox("OK");
                         if (error.empty() && !user.box.field) error = "the box has no text field";
                         if (error.empty() && !user.box.secure) error = "the field shows its text";
                         if (error.empty() && !user.box.fieldText.empty())
                             error = "the field starts with \"" + user.box.fieldText + "\"";
                         if (error.empty() && !c.typed.empty())
                             error = user.editField(false, c.typed, c.typed);
                         if (error.empty())
                             error = user.screenshot(std::string("appkit-secret-") + c.name);
                         return error.empty() ? user.press(c.button) : error;
                     },
                     report);
        EXPECT_EQ(report, "");
        EXPECT_EQ(answer, c.answer);
    }
}

// The worker thread's error report: it returns before its box can be shown (the main thread is
// busy waiting for it), and the box then comes on the main thread.
TEST(AppKitDialogs, MessageFromAnotherThreadReturnsAtOnceAndShowsOnTheMainThread) {
    const std::unique_ptr<TrackpostDialogs> dialogs = makePlatformDialogs();
    const std::string error = "Couldn't connect to server";
    auto worker = std::async(std::launch::async, [&] { dialogs->showMessage(error, "Trackpost"); });
    const bool returned = worker.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    ASSERT_TRUE(returned) << "showMessage waited for the main thread";
    EXPECT_EQ(currentBox().window, nullptr);

    auto user = startUser([&error] {
        User user;
        std::string problem = user.awaitBox("OK");
        const auto& texts = user.box.texts;
        if (problem.empty() && std::find(texts.begin(), texts.end(), error) == texts.end())
            problem = "the box does not say \"" + error + "\"";
        if (problem.empty()) problem = user.screenshot("appkit-message");
        return problem.empty() ? user.press("OK") : problem;
    });
    runMainLoopUntil(user);
    EXPECT_EQ(user.get(), "");
}

// What the workspace was asked to open, and whether on the main thread.
std::mutex openedLock;
std::vector<std::pair<std::string, bool>> opened;

BOOL recordOpenURL(id, SEL, NSURL* url) {
    std::lock_guard<std::mutex> guard(openedLock);
    opened.emplace_back(utf8([url absoluteString]), [NSThread isMainThread] == YES);
    return YES;
}

std::vector<std::pair<std::string, bool>> openedSoFar() {
    std::lock_guard<std::mutex> guard(openedLock);
    return opened;
}

// The login's address comes from the worker: the call returns at once, and the workspace, which
// is the main thread's as the alerts are, opens it there.
TEST(AppKitDialogs, AddressFromAnotherThreadOpensOnTheMainThread) {
    // The browser's stand-in: the workspace records the address instead of starting one.
    const Method method = class_getInstanceMethod([NSWorkspace class], @selector(openURL:));
    ASSERT_NE(method, nullptr);
    const IMP original = method_setImplementation(method, reinterpret_cast<IMP>(recordOpenURL));

    const std::unique_ptr<TrackpostDialogs> dialogs = makePlatformDialogs();
    const std::string url = "https://api.twitter.com/oauth/authorize?oauth_token=a%20b";
    auto worker = std::async(std::launch::async, [&] { dialogs->openURL(url); });
    const bool returned = worker.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    EXPECT_TRUE(returned) << "openURL waited for the main thread";
    EXPECT_TRUE(openedSoFar().empty()) << "opened off the main thread, or before it ran";

    auto seen = std::async(std::launch::async, [] {
        for (int i = 0; i < 200 && openedSoFar().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    });
    runMainLoopUntil(seen);
    method_setImplementation(method, original);
    EXPECT_EQ(openedSoFar(), (std::vector<std::pair<std::string, bool>>{{url, true}}));
}

// The skin as the host gets it on macOS: from the bundle's Contents/Resources.
TEST(AppKitResources, LoadFileInResourceReadsBothSkinFiles) {
    std::string pattern = ::testing::TempDir() + "appkit_bundle_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path bundleFolder = fs::path(pattern) / "Trackpost.bundle";
    const fs::path resources = bundleFolder / "Contents" / "Resources";
    fs::create_directories(resources);
    const fs::path skins = TRACKPOST_SKIN_DIR;
    for (const char* name : {"skin_trackpost.xml", "skin_trackpost.png"})
        fs::copy_file(skins / name, resources / name);

    const std::string folder = bundleFolder.string();
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(folder.data()),
        static_cast<CFIndex>(folder.size()), true);
    ASSERT_NE(url, nullptr);
    CFBundleRef bundle = CFBundleCreate(kCFAllocatorDefault, url);
    CFRelease(url);
    ASSERT_NE(bundle, nullptr);

    CTrackpost plugin;
    plugin.bundle = bundle;
    for (const char* name : {"skin_trackpost.xml", "skin_trackpost.png"}) {
        SCOPED_TRACE(name);
        const std::string expected = readFile(skins / name);
        ASSERT_FALSE(expected.empty());
        int size = -1;
        std::unique_ptr<char[]> data(plugin.LoadFileInResource(0, name, size));
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::string(data.get(), static_cast<size_t>(size)), expected);
    }
    plugin.bundle = nullptr;
    CFRelease(bundle);
    fs::remove_all(pattern);
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);  // what ran shows even if the run is cut short
    ::testing::InitGoogleTest(&argc, argv);
    @autoreleasepool {
        // What the host has done on macOS before any plug-in's box.
        [NSApplication sharedApplication];
        [NSApp finishLaunching];
        watchBoxes();
    }
    return RUN_ALL_TESTS();
}
