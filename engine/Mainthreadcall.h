#pragma once
// Work a background thread hands to the main thread's event queue.

#include <functional>

// Queues call to run on the main thread (dropped when there is no application object).
//
// Every post and every start of a posted call passes one lock, so all the posting
// thread did before posting (building the call, dropping its own hold on it) is ordered
// before the main thread reads or frees the call. Qt's queue is ordered too, but inside
// uninstrumented futex code that ThreadSanitizer cannot see, which made it report races
// that are none; the lock is held only for the moment of posting.
void PostToMainThread(std::function<void()> call);
