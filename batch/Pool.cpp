#include "batch/Pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace velmo::batch {
namespace {

// What became of a job, by i % ahead.
enum class State : char { Pending, Done, Failed, NotRun };

// What the threads of one RunInOrder share, under its mutex. Threads meet
// here once per run of jobs, not once per job: every meeting may put a thread
// to sleep and wake another, which costs more than a small job.
struct Shared {
    std::mutex mutex;
    std::condition_variable forTake;    // a run of jobs is done
    std::condition_variable forWorkers; // jobs were taken: more may start
    std::size_t next = 0;               // the next job to start
    std::size_t taken = 0;              // the job take waits for: all before it are taken
    std::size_t running = 0;            // threads working on a run of jobs
    bool stop = false;
    std::atomic<bool> stopping{false}; // the same, looked at between two jobs of a run
    std::vector<State> states;
    std::vector<std::exception_ptr> failures;
};

void Serve(Shared& shared, std::size_t count, std::size_t ahead, std::size_t run,
           const std::function<void(std::size_t)>& work) {
    std::unique_lock lock(shared.mutex);
    for (;;) {
        shared.forWorkers.wait(lock, [&] {
            return shared.stop || shared.next >= count || shared.next < shared.taken + ahead;
        });
        if (shared.stop || shared.next >= count)
            return;
        const std::size_t first = shared.next;
        const std::size_t end = std::min({first + run, shared.taken + ahead, count});
        shared.next = end;
        ++shared.running;
        lock.unlock();
        std::size_t i = first;
        std::exception_ptr failure;
        for (; i < end && !failure && !shared.stopping.load(std::memory_order_relaxed); ++i) {
            try {
                work(i);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        lock.lock();
        for (std::size_t j = first; j < end; ++j)
            shared.states[j % ahead] = j < i ? State::Done : State::NotRun;
        if (failure) {
            shared.states[(i - 1) % ahead] = State::Failed;
            shared.failures[(i - 1) % ahead] = failure;
        }
        --shared.running;
        shared.forTake.notify_one();
    }
}

} // namespace

void RunInOrder(std::size_t threads, std::size_t count, std::size_t ahead,
                const std::function<void(std::size_t)>& work,
                const std::function<bool(std::size_t)>& take,
                const std::function<void(std::size_t)>& left) {
    if (ahead < threads)
        ahead = threads;
    if (threads > count)
        threads = count;
    // Each thread takes runs of jobs that leave room in the window for the others.
    const std::size_t run =
        std::max<std::size_t>(1, ahead / (2 * std::max<std::size_t>(1, threads)));
    Shared shared;
    shared.states.assign(ahead, State::Pending);
    shared.failures.resize(ahead);
    std::vector<std::thread> pool;
    if (threads > 1) {
        try {
            for (std::size_t t = 0; t < threads; ++t)
                pool.emplace_back(Serve, std::ref(shared), count, ahead, run, std::cref(work));
        } catch (const std::system_error&) {
            // No more threads to be had: the work goes on with those started,
            // or on this thread alone.
        }
    }
    if (pool.empty()) {
        for (std::size_t i = 0; i < count; ++i) {
            work(i);
            if (!take(i))
                return;
        }
        return;
    }
    // The jobs started and not taken finish and go to left, the threads end.
    auto finish = [&] {
        std::unique_lock lock(shared.mutex);
        shared.stop = true;
        shared.stopping = true;
        shared.forWorkers.notify_all();
        shared.forTake.wait(lock, [&] { return shared.running == 0; });
        const std::size_t started = shared.next;
        lock.unlock();
        for (std::thread& thread : pool)
            thread.join();
        for (std::size_t i = shared.taken; i < started; ++i)
            if (shared.states[i % ahead] == State::Done)
                left(i);
    };
    try {
        std::size_t i = 0;
        while (i < count) {
            // The jobs done in a row from i on, taken one by one.
            std::size_t end = i;
            {
                std::unique_lock lock(shared.mutex);
                shared.forTake.wait(lock,
                                    [&] { return shared.states[i % ahead] != State::Pending; });
                while (end < count && end < i + ahead &&
                       shared.states[end % ahead] != State::Pending)
                    ++end;
            }
            bool goOn = true;
            for (; i < end && goOn; ++i) {
                const State state = shared.states[i % ahead];
                shared.states[i % ahead] = State::Pending;
                if (state == State::Failed) {
                    std::exception_ptr failure = std::move(shared.failures[i % ahead]);
                    shared.failures[i % ahead] = nullptr;
                    std::lock_guard lock(shared.mutex);
                    shared.taken = i + 1; // not handed to left
                    std::rethrow_exception(failure);
                }
                try {
                    goOn = take(i);
                } catch (...) {
                    std::lock_guard lock(shared.mutex);
                    shared.taken = i + 1; // what take began is its own to end
                    throw;
                }
            }
            std::lock_guard lock(shared.mutex);
            shared.taken = i;
            shared.stop = !goOn;
            shared.stopping = !goOn;
            shared.forWorkers.notify_all();
            if (!goOn)
                break;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

} // namespace velmo::batch
