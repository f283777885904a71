#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

#include <cstdio>
#include <cstdlib>

struct trackpost_dispatch_queue_s {};

namespace {
trackpost_dispatch_queue_s mainQueue;
}

// Holds its own copy of a block until the main thread has run it.
@interface TrackpostMainQueueJob : NSObject {
    dispatch_block_t block;
}
- (id)initWithBlock:(dispatch_block_t)work;
- (void)run;
@end

@implementation TrackpostMainQueueJob
- (id)initWithBlock:(dispatch_block_t)work {
    if ((self = [super init]) != nil) block = Block_copy(work);
    return self;
}
- (void)dealloc {
    Block_release(block);
    [super dealloc];
}
- (void)run {
    @autoreleasepool {
        block();
    }
}
@end

extern "C" dispatch_queue_t dispatch_get_main_queue(void) {
    return &mainQueue;
}

extern "C" void dispatch_async(dispatch_queue_t queue, dispatch_block_t block) {
    if (queue != &mainQueue || block == nullptr) {
        std::fprintf(stderr, "dispatch_async: only the main queue is supported\n");
        std::abort();
    }
    @autoreleasepool {
        TrackpostMainQueueJob* job = [[TrackpostMainQueueJob alloc] initWithBlock:block];
        // The main thread's run loop keeps the job until it has run.
        [job performSelectorOnMainThread:@selector(run) withObject:nil waitUntilDone:NO];
        [job release];
    }
}
