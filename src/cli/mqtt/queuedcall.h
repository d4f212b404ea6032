#pragma once

#include <QMetaObject>
#include <QObject>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define KELDRO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KELDRO_TSAN 1
#endif
#endif
#ifdef KELDRO_TSAN
#include <sanitizer/tsan_interface.h>
#endif

#ifdef KELDRO_TSAN
// The call as Qt keeps it until it runs. Qt moves it into its own object last on the
// calling thread, and calls it there on the context's thread: the object's address
// stands for the hand-over on both sides, known without reading what it holds.
template <typename Call> class HandedCall
{
public:
    explicit HandedCall(Call call) : call(std::move(call)) {}
    HandedCall(HandedCall &&other) : call(std::move(other.call)) { __tsan_release(this); }
    void operator()()
    {
        __tsan_acquire(this);
        call();
    }

private:
    Call call;
};
#endif

// Runs call on context's thread, from its event loop, as a queued invokeMethod does.
// Everything the calling thread did before comes before the call. Qt orders that
// behind a futex, which ThreadSanitizer cannot see in Debian's Qt; under it the
// hand-over is told to it as well.
template <typename Call> void queuedCall(QObject *context, Call call)
{
#ifdef KELDRO_TSAN
    QMetaObject::invokeMethod(context, HandedCall<Call>(std::move(call)), Qt::QueuedConnection);
#else
    QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
#endif
}
