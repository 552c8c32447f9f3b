// Requests from outside to stop the program: Ctrl+C and termination
// requests (SIGINT and SIGTERM on POSIX; console control events on
// Windows). They reach a handler that runs on an ordinary thread of the
// platform's, never inside a signal handler, so it may take locks and post
// window messages.
#pragma once

namespace plat {

using StopRequestHandler = void (*)(void* context);

// Starts watching. Call on the main thread before any other thread starts:
// on POSIX the signals are blocked in the calling thread, and every thread
// started later inherits that, so only the watcher ever receives them.
// False when watching could not be started (or already runs).
bool WatchStopRequests(StopRequestHandler handler, void* context);

// Ends the watching and waits for the watcher; a handler call in progress
// finishes first. Requests that arrive afterwards are ignored.
void StopWatchingStopRequests();

}  // namespace plat
