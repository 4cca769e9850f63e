// What the extension exports (include/OrvaneSdkEx.h) need of the frame path.

#include "sdk/orvane.h"

// The extension's frame callback is called here, on the acquisition thread with the frame lock held.
void COrvane::FrameDelivered(const DeliveredFrame&) {}
