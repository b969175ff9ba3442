// Running blocking core work on the Qt thread pool from a coroutine that
// resumes on its own thread once the work is done.
#pragma once

#include <QCoro/QCoroFuture>
#include <QFuture>
#include <QFutureInterface>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace halvo {
namespace detail {

// The distribution's Qt is not built with ThreadSanitizer, so the locks with
// which its thread pool and futures hand work over are invisible to it. These
// two calls tell it about each hand-over; they do nothing in other builds.
#if defined(__SANITIZE_THREAD__)
inline void handOver(const void* sync) {
    __tsan_release(const_cast<void*>(sync));
}
inline void takeOver(const void* sync) {
    __tsan_acquire(const_cast<void*>(sync));
}
#else
inline void handOver(const void*) {}
inline void takeOver(const void*) {}
#endif

// Only its address is used: every job takes over what its starter did before.
inline const char kJobsStarted = 0;

}  // namespace detail

// Runs `work` on the Qt thread pool. The awaiting coroutine resumes on its own
// thread once the work is done. The job holds what it needs itself: it may
// outlive whoever started it.
template <class Work>
QCoro::Task<std::invoke_result_t<Work&>> onThreadPool(Work work) {
    using Result = std::invoke_result_t<Work&>;
    struct Job {
        explicit Job(Work w) : work(std::move(w)) {}
        Work work;
        std::optional<Result> result;
        QFutureInterface<void> done;
    };
    auto job = std::make_shared<Job>(std::move(work));
    job->done.reportStarted();
    // Named, not a temporary of the co_await: GCC 12 may destroy those twice.
    QFuture<void> finished = job->done.future();
    std::function<void()> run = [job] {
        detail::takeOver(&detail::kJobsStarted);
        job->result.emplace(job->work());
        detail::handOver(job.get());
        job->done.reportFinished();
    };
    detail::handOver(&detail::kJobsStarted);
    QThreadPool::globalInstance()->start(std::move(run));
    co_await finished;
    detail::takeOver(job.get());
    co_return std::move(*job->result);
}

}  // namespace halvo
