// The boxes as AppKit alerts and the browser through the workspace. Built without ARC: every
// alloc here has its release.
#import <AppKit/AppKit.h>
#import <dispatch/dispatch.h>

#include "Dialogs.h"

namespace {

NSString* toNSString(const std::string& s) {
    NSString* converted = [NSString stringWithUTF8String:s.c_str()];
    return converted != nil ? converted : @"";  // invalid UTF-8 shows as nothing, not a crash
}

std::string fromNSString(NSString* s) {
    const char* utf8 = [s UTF8String];
    return utf8 != nullptr ? std::string(utf8) : std::string();
}

// An alert the caller owns (+1): headline, body, and the buttons left to right.
NSAlert* newAlert(NSString* headline, NSString* body, NSString* first, NSString* second) {
    NSAlert* alert = [[NSAlert alloc] init];
    [alert addButtonWithTitle:first];
    if (second != nil) [alert addButtonWithTitle:second];
    [alert setMessageText:headline];
    [alert setInformativeText:body];
    return alert;
}

class AppKitDialogs : public TrackpostDialogs {
  public:
    void showMessage(const std::string& text, const std::string& headline) override {
        // May run on a worker thread, which has no pool of its own.
        @autoreleasepool {
            NSString* body = toNSString(text);
            NSString* title = toNSString(headline);
            // The alert is made on the main thread, where AppKit wants its windows. dispatch_async
            // copies the block, and a copied block retains the objects it captured, so both
            // strings outlive this pool; the alert's own +1 is released once it is closed.
            dispatch_async(dispatch_get_main_queue(), ^{
              NSAlert* alert = newAlert(title, body, @"OK", nil);
              [alert runModal];
              [alert release];
            });
        }
    }

    std::optional<std::string> askInput(const std::string& text, const std::string& headline,
                                        const std::string& defaultValue) override {
        return askField(text, headline, defaultValue, false);
    }

    std::optional<std::string> getSecret(const std::string& text,
                                         const std::string& headline) override {
        return askField(text, headline, "", true);
    }

    bool showRequest(const std::string& text, const std::string& headline) override {
        @autoreleasepool {
            NSAlert* alert = newAlert(toNSString(headline), toNSString(text), @"Yes", @"No");
            const bool yes = [alert runModal] == NSAlertFirstButtonReturn;
            [alert release];
            return yes;
        }
    }

    void openURL(const std::string& url) override {
        // Called from the worker once the login's address is known; the workspace is the main
        // thread's, like the alerts.
        @autoreleasepool {
            NSURL* address = [NSURL URLWithString:toNSString(url)];
            if (address == nil) return;
            dispatch_async(dispatch_get_main_queue(), ^{
              [[NSWorkspace sharedWorkspace] openURL:address];
            });
        }
    }

  private:
    // An alert with a text field below its text, filled with `defaultValue`; a secure field,
    // which shows bullets, when `masked`.
    static std::optional<std::string> askField(const std::string& text, const std::string& headline,
                                               const std::string& defaultValue, bool masked) {
        @autoreleasepool {
            NSAlert* alert = newAlert(toNSString(headline), toNSString(text), @"OK", @"Cancel");
            const NSRect frame = NSMakeRect(0, 0, 200, 24);
            NSTextField* field = masked ? [[NSSecureTextField alloc] initWithFrame:frame]
                                        : [[NSTextField alloc] initWithFrame:frame];
            [[field cell] setUsesSingleLineMode:YES];
            [[field cell] setWraps:NO];
            [[field cell] setScrollable:YES];
            [field setStringValue:toNSString(defaultValue)];
            [alert setAccessoryView:field];
            // Typing goes to the field at once: the user pastes the PIN without clicking first.
            [[alert window] setInitialFirstResponder:field];
            std::optional<std::string> answer;
            if ([alert runModal] == NSAlertFirstButtonReturn)
                answer = fromNSString([field stringValue]);
            [field release];
            [alert release];
            return answer;
        }
    }
};

}  // namespace

std::unique_ptr<TrackpostDialogs> makePlatformDialogs() {
    return std::make_unique<AppKitDialogs>();
}
