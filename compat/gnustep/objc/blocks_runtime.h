// Stands in for the blocks header GNUstep's headers take from their own runtime: BlocksRuntime's.
#include <Block.h>
