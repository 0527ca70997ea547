// Allocation settings that keep the resident memory flat over a long session.
#pragma once

namespace dittix::platform {

// Blocks of 128 KiB and more (the training tones, the bitmaps) get mappings of their own and go
// back to the system when freed. Call once at start, before the large blocks are made.
void keepLargeBlocksMapped();

}  // namespace dittix::platform
