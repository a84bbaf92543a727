#include "cli/Pool.h"

#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace velmo::cli {
namespace {

// What the threads of one RunInOrder share, under its mutex.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;  // the next job to start
    std::size_t taken = 0; // the job take waits for: all before it are taken
    std::size_t running = 0;
    bool stop = false;
    std::vector<char> finished;               // by i % ahead
    std::vector<std::exception_ptr> failures; // the same
};

void Serve(Shared& shared, std::size_t count, std::size_t ahead,
           const std::function<void(std::size_t)>& work) {
    std::unique_lock lock(shared.mutex);
    for (;;) {
        shared.changed.wait(lock, [&] {
            return shared.stop || shared.next >= count || shared.next < shared.taken + ahead;
        });
        if (shared.stop || shared.next >= count)
            return;
        const std::size_t i = shared.next++;
        ++shared.running;
        lock.unlock();
        std::exception_ptr failure;
        try {
            work(i);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        shared.failures[i % ahead] = failure;
        shared.finished[i % ahead] = 1;
        --shared.running;
        shared.changed.notify_all();
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
    Shared shared;
    shared.finished.assign(ahead, 0);
    shared.failures.resize(ahead);
    std::vector<std::thread> pool;
    if (threads > 1) {
        try {
            for (std::size_t t = 0; t < threads; ++t)
                pool.emplace_back(Serve, std::ref(shared), count, ahead, std::cref(work));
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
        shared.changed.notify_all();
        shared.changed.wait(lock, [&] { return shared.running == 0; });
        const std::size_t started = shared.next;
        lock.unlock();
        for (std::thread& thread : pool)
            thread.join();
        for (std::size_t i = shared.taken; i < started; ++i)
            if (!shared.failures[i % ahead])
                left(i);
    };
    try {
        for (std::size_t i = 0; i < count; ++i) {
            std::exception_ptr failure;
            {
                std::unique_lock lock(shared.mutex);
                shared.changed.wait(lock, [&] { return shared.finished[i % ahead] != 0; });
                shared.finished[i % ahead] = 0;
                failure = shared.failures[i % ahead];
                shared.failures[i % ahead] = nullptr;
            }
            if (failure) {
                {
                    std::lock_guard lock(shared.mutex);
                    shared.taken = i + 1; // not handed to left
                }
                std::rethrow_exception(failure);
            }
            bool goOn = false;
            try {
                goOn = take(i);
            } catch (...) {
                std::lock_guard lock(shared.mutex);
                shared.taken = i + 1; // what take began is its own to end
                throw;
            }
            {
                std::lock_guard lock(shared.mutex);
                shared.taken = i + 1;
                shared.stop = !goOn;
                shared.changed.notify_all();
            }
            if (!goOn)
                break;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void InTurn::Enter(std::size_t index) {
    std::unique_lock lock(mutex_);
    next_.wait(lock, [&] { return done_ == index; });
}

void InTurn::Leave(std::size_t index) {
    std::lock_guard lock(mutex_);
    early_[index % early_.size()] = 1;
    while (early_[done_ % early_.size()]) {
        early_[done_ % early_.size()] = 0;
        ++done_;
    }
    next_.notify_all();
}

} // namespace velmo::cli
