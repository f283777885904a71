// Stands in for libdispatch, which this system lacks: the main queue alone, and dispatch_async.
#ifndef TRACKPOST_COMPAT_DISPATCH_H
#define TRACKPOST_COMPAT_DISPATCH_H

typedef struct trackpost_dispatch_queue_s* dispatch_queue_t;
typedef void (^dispatch_block_t)(void);

#ifdef __cplusplus
extern "C" {
#endif

dispatch_queue_t dispatch_get_main_queue(void);
// Copies the block and runs it once on the main thread, when its run loop next runs in a common
// mode (the modal panel mode included), in the order submitted. Any queue but the main one aborts.
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);

#ifdef __cplusplus
}
#endif

#endif
