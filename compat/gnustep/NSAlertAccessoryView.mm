// Stands in for -[NSAlert setAccessoryView:] of macOS: the view goes into GNUstep's alert panel.
#import <AppKit/AppKit.h>
#include <objc/runtime.h>

namespace {

// Alert -> its accessory view (retained); an entry goes with its alert.
NSMapTable* accessoryViews() {
    static NSMapTable* table =
        NSCreateMapTable(NSNonRetainedObjectMapKeyCallBacks, NSObjectMapValueCallBacks, 4);
    return table;
}

IMP originalSetupPanel = nullptr;
IMP originalDealloc = nullptr;

// Puts the view above the buttons, moving everything else up by its height and a gap, as macOS
// lays out an alert with an accessory view.
void insertIntoPanel(NSWindow* panel, NSView* view) {
    const CGFloat gap = 8;
    NSView* content = [panel contentView];
    NSArray* subviews = [[[content subviews] copy] autorelease];
    CGFloat bottom = CGFLOAT_MAX;
    for (NSView* sub in subviews) bottom = MIN(bottom, NSMinY([sub frame]));
    CGFloat buttonsTop = bottom;
    for (NSView* sub in subviews)
        if (NSMinY([sub frame]) < bottom + 1) buttonsTop = MAX(buttonsTop, NSMaxY([sub frame]));
    const CGFloat room = NSHeight([view frame]) + gap;
    // Where each view goes, whatever the panel's resizing does to it: the buttons stay, the rest
    // keeps its distance from the top.
    NSMutableArray* places = [NSMutableArray array];
    for (NSView* sub in subviews) {
        NSRect r = [sub frame];
        if (NSMinY(r) >= buttonsTop) r.origin.y += room;
        [places addObject:[NSValue valueWithRect:r]];
    }
    NSRect frame = [panel frame];
    frame.size.height += room;
    frame.origin.y -= room;
    // The panel is sized once for its texts and holds to that size.
    [panel setMinSize:frame.size];
    [panel setMaxSize:frame.size];
    [panel setFrame:frame display:NO];
    for (NSUInteger i = 0; i < [subviews count]; ++i)
        [[subviews objectAtIndex:i] setFrame:[[places objectAtIndex:i] rectValue]];
    NSRect r = [view frame];
    r.origin = NSMakePoint(floor((NSWidth([content bounds]) - NSWidth(r)) / 2), buttonsTop + gap);
    [view setFrame:r];
    [content addSubview:view];
}

void setupPanelWithAccessory(id self, SEL cmd) {
    reinterpret_cast<void (*)(id, SEL)>(originalSetupPanel)(self, cmd);
    NSView* view = static_cast<NSView*>(NSMapGet(accessoryViews(), self));
    if (view != nil) insertIntoPanel([self window], view);
}

void deallocForgettingAccessory(id self, SEL cmd) {
    NSMapRemove(accessoryViews(), self);
    reinterpret_cast<void (*)(id, SEL)>(originalDealloc)(self, cmd);
}

}  // namespace

@implementation NSAlert (TrackpostAccessoryView)

// GNUstep builds the alert's panel in -_setupPanel at each run; the view joins it there.
+ (void)load {
    Method setup = class_getInstanceMethod(self, @selector(_setupPanel));
    Method dealloc = class_getInstanceMethod(self, @selector(dealloc));
    if (setup == nullptr || dealloc == nullptr) {
        NSLog(@"NSAlert accessory views: this GNUstep has no -[NSAlert _setupPanel]");
        abort();
    }
    originalSetupPanel =
        method_setImplementation(setup, reinterpret_cast<IMP>(setupPanelWithAccessory));
    originalDealloc =
        method_setImplementation(dealloc, reinterpret_cast<IMP>(deallocForgettingAccessory));
}

- (void)setAccessoryView:(NSView*)view {
    if (view != nil)
        NSMapInsert(accessoryViews(), self, view);
    else
        NSMapRemove(accessoryViews(), self);
}

- (NSView*)accessoryView {
    return static_cast<NSView*>(NSMapGet(accessoryViews(), self));
}

@end
