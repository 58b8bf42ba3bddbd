#pragma once
// Waiting while the window keeps working.

namespace corvid {

// Waits ms milliseconds in a nested event loop: timer ticks, engine events and clicks are handled
// during the wait, so the caller must expect window state to change under it. The loop sleeps
// until a precise one-shot timer wakes it; it never spins. A wait of 0 or less returns at once
// without handling any pending event. Without a Qt application object the thread simply sleeps.
// A handler that itself waits inside the wait holds the outer one until the inner one is over.
void msDelay(int ms);

} // namespace corvid
