// Stands in for AppKit: GNUstep's, with the one NSAlert method of macOS that GNUstep 0.29 lacks.
#include_next <AppKit/AppKit.h>

@interface NSAlert (TrackpostAccessoryView)
// As on macOS: the view is shown between the texts and the buttons; the alert retains it.
- (void)setAccessoryView:(NSView*)view;
- (NSView*)accessoryView;
@end
